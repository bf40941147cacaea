#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Makes FILES camera-sized JPEGs (WIDTHxHEIGHT, with EXIF GPS) and, in the
same run and with a fresh cache each round, times
  - `webloom publish` of their photo page to a real FTP server on 127.0.0.1
    (web copies of at most 1600 px, the whole publish),
  - `vipsthumbnail --size 1600x1600 -o '%s.jpg[Q=85,strip]'` over the same
    files, two processes at a time (the conversion alone),
  - ImageMagick `mogrify -resize '1600x1600>' -quality 85 -strip`.
Then checks what arrived: every photo, none over 1600 px, no GPS.

usage: bench/photo_bench.py [--webloom build-rel/webloom] [--files 40]
                            [--width 4000] [--height 3000] [--rounds 3]
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from upload_bench import PASSWORD, SERVER, USER, start, timed  # noqa: E402


def project_bytes(site):
    lines = ['ki001=' + site, 'te001=http://www.example.jp/', 'te002=bench@example.jp', 'te003=' + site,
             'te005=jpg', 'te006=http://', 'te007=1000', 'te008=bench', 'te009=photo']
    return ('\r\n'.join(lines) + '\r\n').encode('cp932')


def make_photos(folder, count, width, height):
    """Distinct photo-like pictures: crops of one large plasma at other places."""
    work = os.path.dirname(folder)
    base = os.path.join(work, 'plasma.v')
    subprocess.run(['convert', '-size', '%dx%d' % (width // 4 + 64, height // 4 + 64), 'plasma:fractal',
                    '-blur', '0x1', os.path.join(work, 'plasma.png')], check=True)
    subprocess.run(['vips', 'resize', os.path.join(work, 'plasma.png'), base, '4'], check=True)
    for i in range(count):
        subprocess.run(['vips', 'crop', base, os.path.join(folder, 'photo%03d.jpg[Q=92]' % i),
                        str(i * 5 % 200), str(i * 3 % 200), str(width), str(height)], check=True)
    subprocess.run(['exiftool', '-q', '-overwrite_original', '-GPSLatitude=35.6586', '-GPSLatitudeRef=N',
                    '-GPSLongitude=139.7454', '-GPSLongitudeRef=E', '-SerialNumber=BENCH-0001',
                    '-Make=Bench', '-Model=Camera', folder], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--webloom', default=os.path.join(HERE, '..', 'build-rel', 'webloom'))
    parser.add_argument('--files', type=int, default=40)
    parser.add_argument('--width', type=int, default=4000)
    parser.add_argument('--height', type=int, default=3000)
    parser.add_argument('--rounds', type=int, default=3)
    args = parser.parse_args()
    if not os.access(args.webloom, os.X_OK):
        sys.exit('no program at %s (build it first, see the README)' % args.webloom)
    for tool in ('vipsthumbnail', 'vips', 'mogrify', 'convert', 'exiftool'):
        if not shutil.which(tool):
            sys.exit('%s is not installed (scripts/install-deps)' % tool)

    work = tempfile.mkdtemp(prefix='webloom-photo-bench-')
    site = os.path.join(work, 'site')
    root = os.path.join(work, 'root')
    home = os.path.join(work, 'home')
    for folder in (site, root, home):
        os.makedirs(folder)
    make_photos(site, args.files, args.width, args.height)
    photos = sorted(os.path.join(site, name) for name in os.listdir(site))
    total = sum(os.path.getsize(p) for p in photos)
    project = os.path.join(work, 'site.txt')
    with open(project, 'wb') as f:
        f.write(project_bytes(site))

    server, port = start(['/usr/bin/python3', '-c', SERVER, root, USER, PASSWORD])
    registry = os.path.join(work, 'hosts.txt')
    with open(registry, 'wb') as f:
        f.write(('"bench","ftp://127.0.0.1:%d","%s","%s"\r\n' % (port, USER, PASSWORD)).encode('cp932'))
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(home, 'config'), XDG_DATA_HOME=os.path.join(home, 'data'))
    env.pop('WEBLOOM_FTP_PASSWORD', None)
    names = ('webloom publish', 'vipsthumbnail, 2 at a time', 'ImageMagick mogrify')
    results = {name: [] for name in names}
    sent = 0
    try:
        for round_ in range(args.rounds):
            # A fresh cache, record and folder: every photo is made and sent.
            env['XDG_CACHE_HOME'] = os.path.join(home, 'cache-%d' % round_)
            shutil.rmtree(os.path.join(home, 'data'), ignore_errors=True)
            target = 'webloom-%d' % round_
            elapsed, out = timed([args.webloom, 'publish', project, '--connection', 'bench', '--registry', registry,
                                  '--remote', target, '--no-check'], env)
            results['webloom publish'].append(elapsed)
            sent = len([line for line in out.splitlines() if line.startswith('uploaded\tphoto') and '.jpg\t' in line])
            if sent != args.files:
                sys.exit('webloom sent %d of %d photos:\n%s' % (sent, args.files, out))

            out_dir = os.path.join(work, 'vips-%d' % round_)
            os.makedirs(out_dir)
            output = os.path.join(out_dir, '%s.jpg[Q=85,strip]')
            half = len(photos) // 2
            elapsed, _ = timed(['sh', '-c', '(%s) & (%s) & wait' % (
                'vipsthumbnail --size 1600x1600 -o "%s" %s' % (output, ' '.join(photos[:half])),
                'vipsthumbnail --size 1600x1600 -o "%s" %s' % (output, ' '.join(photos[half:])))], env)
            if len(os.listdir(out_dir)) != len(photos):
                sys.exit('vipsthumbnail did not convert every photo')
            results['vipsthumbnail, 2 at a time'].append(elapsed)

            out_dir = os.path.join(work, 'magick-%d' % round_)
            os.makedirs(out_dir)
            elapsed, _ = timed(['mogrify', '-path', out_dir, '-resize', '1600x1600>', '-quality', '85', '-strip'] +
                               photos, env)
            if len(os.listdir(out_dir)) != len(photos):
                sys.exit('mogrify did not convert every photo')
            results['ImageMagick mogrify'].append(elapsed)

        arrived = os.path.join(root, 'webloom-0')
        tags = json.loads(subprocess.run(['exiftool', '-j', '-n', '-ImageWidth', '-ImageHeight', '-GPS:all',
                                          '-SerialNumber', arrived], check=True, capture_output=True).stdout)
        tags = [t for t in tags if t['SourceFile'].endswith('.jpg')]
        if len(tags) != args.files or any(max(t['ImageWidth'], t['ImageHeight']) > 1600 or
                                          any(k.startswith('GPS') or k == 'SerialNumber' for k in t) for t in tags):
            sys.exit('what arrived is not what it should be:\n%s' % json.dumps(tags, indent=1))
        arrived_bytes = sum(os.path.getsize(os.path.join(arrived, os.path.basename(p))) for p in photos)
    finally:
        server.kill()
        shutil.rmtree(work, ignore_errors=True)

    print('%d photos of %dx%d (%.1f MB, EXIF GPS), web copies of at most 1600 px at Q85 (%.1f MB), '
          'fresh cache, median of %d rounds, %d cores' % (
              args.files, args.width, args.height, total / 1e6, arrived_bytes / 1e6, args.rounds,
              os.cpu_count()))
    medians = {name: statistics.median(times) for name, times in results.items()}
    for name, times in results.items():
        print('  %-28s %6.2f s   (%s)' % (name, medians[name], ', '.join('%.2f' % t for t in times)))
    vips = medians['vipsthumbnail, 2 at a time']
    print('  ratio webloom publish / vipsthumbnail: %.2f' % (medians['webloom publish'] / vips))
    print('  ratio mogrify / vipsthumbnail:         %.2f' % (medians['ImageMagick mogrify'] / vips))


if __name__ == '__main__':
    main()
