#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Times a second `webloom publish` with nothing changed, for a site of FILES
large photos (LARGE bytes each) against the same site with small photos
(SMALL bytes each), to a real FTP server on 127.0.0.1 (through a proxy that
delays the control connection by DELAY ms each way when DELAY is not 0), in
the same run, and prints both and their ratio. A publish that only looks at
the files costs the same for both; one that reads them again does not.

usage: bench/nochange_publish_bench.py [--webloom build-rel/webloom]
          [--files 200] [--large 8388608] [--small 2048] [--delay 0]
          [--rounds 3]
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from publish_bench import picture_bytes, project_bytes  # noqa: E402
from upload_bench import PASSWORD, SERVER, USER, start, timed  # noqa: E402


def make_site(work, name, files, size):
    site = os.path.join(work, name)
    os.makedirs(site)
    block = os.urandom(min(size, 1 << 20))
    picture = picture_bytes()
    for i in range(files):
        with open(os.path.join(site, 'photo%03d.jpg' % i), 'wb') as f:
            left = size
            f.write(picture + str(i).encode())  # every photo its own bytes
            left -= len(picture) + len(str(i))
            while left > 0:
                f.write(block[:left])
                left -= min(left, len(block))
    project = os.path.join(work, name + '.txt')
    with open(project, 'wb') as f:
        f.write(project_bytes(site))
    return project


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--webloom', default=os.path.join(HERE, '..', 'build-rel', 'webloom'))
    parser.add_argument('--files', type=int, default=200)
    parser.add_argument('--large', type=int, default=8 * 1024 * 1024)
    parser.add_argument('--small', type=int, default=2048)
    parser.add_argument('--delay', type=float, default=0)
    parser.add_argument('--rounds', type=int, default=3)
    args = parser.parse_args()
    if not os.access(args.webloom, os.X_OK):
        sys.exit('no program at %s (build it first, see the README)' % args.webloom)

    work = tempfile.mkdtemp(prefix='webloom-nochange-bench-')
    root = os.path.join(work, 'root')
    home = os.path.join(work, 'home')
    os.makedirs(root)
    os.makedirs(home)
    sites = {'large photos': make_site(work, 'large', args.files, args.large),
             'small photos': make_site(work, 'small', args.files, args.small)}

    server, port = start(['/usr/bin/python3', '-c', SERVER, root, USER, PASSWORD])
    proxy = None
    if args.delay > 0:
        proxy, port = start([sys.executable, os.path.join(HERE, 'delay_proxy.py'), str(port), str(args.delay)])
    registry = os.path.join(work, 'hosts.txt')
    with open(registry, 'wb') as f:
        f.write(('"bench","ftp://127.0.0.1:%d","%s","%s"\r\n' % (port, USER, PASSWORD)).encode('cp932'))
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(home, 'config'), XDG_DATA_HOME=os.path.join(home, 'data'))
    env.pop('WEBLOOM_FTP_PASSWORD', None)
    results = {name: [] for name in sites}
    try:
        for name, project in sites.items():
            command = [args.webloom, 'publish', project, '--connection', 'bench', '--registry', registry,
                       '--remote', name.split()[0], '--parallel', '4', '--no-check', '--original-photos']
            timed(command, env)
            for _ in range(args.rounds):
                elapsed, out = timed(command, env)
                if not out.startswith('published 0 files'):
                    sys.exit('a publish with nothing changed sent files:\n' + out)
                results[name].append(elapsed)
    finally:
        if proxy:
            proxy.kill()
        server.kill()
        shutil.rmtree(work, ignore_errors=True)

    print('second publish with nothing changed, %d photos and their page, 4 connections, '
          'control connection delayed %g ms each way, median of %d rounds'
          % (args.files, args.delay, args.rounds))
    medians = {name: statistics.median(times) for name, times in results.items()}
    sizes = {'large photos': args.large, 'small photos': args.small}
    for name, times in results.items():
        print('  %-14s %10d bytes each %7.3f s   (%s)'
              % (name, sizes[name], medians[name], ', '.join('%.3f' % t for t in times)))
    print('  ratio large / small: %.2f' % (medians['large photos'] / medians['small photos']))


if __name__ == '__main__':
    main()
