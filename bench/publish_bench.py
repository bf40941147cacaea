#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Publishes a site of FILES photos of SIZE bytes (and the photo page that
shows them) with `webloom publish --parallel 4`, and mirrors the same folder
with `lftp -e "mirror -R --parallel=4"`, to a real FTP server on 127.0.0.1
through a proxy that delays the control connection by DELAY ms each way, in
the same run. Then times a second publish with nothing changed.

usage: bench/publish_bench.py [--webloom build-rel/webloom] [--files 100]
                              [--size 10240] [--delay 20] [--rounds 3]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from upload_bench import PASSWORD, SERVER, USER, start, timed  # noqa: E402


def project_bytes(site):
    lines = ['ki001=' + site, 'te001=http://www.example.jp/', 'te002=bench@example.jp', 'te003=' + site,
             'te005=jpg', 'te006=http://', 'te007=1000', 'te008=bench', 'te009=photo']
    return ('\r\n'.join(lines) + '\r\n').encode('cp932')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--webloom', default=os.path.join(HERE, '..', 'build-rel', 'webloom'))
    parser.add_argument('--files', type=int, default=100)
    parser.add_argument('--size', type=int, default=10 * 1024)
    parser.add_argument('--delay', type=float, default=20)
    parser.add_argument('--rounds', type=int, default=3)
    args = parser.parse_args()
    if not os.access(args.webloom, os.X_OK):
        sys.exit('no program at %s (build it first, see the README)' % args.webloom)
    if not shutil.which('lftp'):
        sys.exit('lftp is not installed (apt-get install lftp)')

    work = tempfile.mkdtemp(prefix='webloom-publish-bench-')
    site = os.path.join(work, 'site')
    root = os.path.join(work, 'root')
    home = os.path.join(work, 'home')
    for folder in (site, root, home):
        os.makedirs(folder)
    for i in range(args.files):
        with open(os.path.join(site, 'photo%03d.jpg' % i), 'wb') as f:
            f.write(os.urandom(args.size))
    project = os.path.join(work, 'site.txt')
    with open(project, 'wb') as f:
        f.write(project_bytes(site))

    server, server_port = start(['/usr/bin/python3', '-c', SERVER, root, USER, PASSWORD])
    proxy, port = start([sys.executable, os.path.join(HERE, 'delay_proxy.py'), str(server_port), str(args.delay)])
    registry = os.path.join(work, 'hosts.txt')
    with open(registry, 'wb') as f:
        f.write(('"bench","ftp://127.0.0.1:%d","%s","%s"\r\n' % (port, USER, PASSWORD)).encode('cp932'))
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(home, 'config'), XDG_DATA_HOME=os.path.join(home, 'data'))
    env.pop('WEBLOOM_FTP_PASSWORD', None)
    results = {'webloom publish': [], 'lftp mirror -R': [], 'webloom, nothing changed': []}
    count = 0
    try:
        for round_ in range(args.rounds):
            target = 'webloom-%d' % round_
            shutil.rmtree(os.path.join(home, 'data'), ignore_errors=True)
            command = [args.webloom, 'publish', project, '--connection', 'bench', '--registry', registry,
                       '--remote', target, '--parallel', '4', '--no-check']
            elapsed, out = timed(command, env)
            count = len([line for line in out.splitlines() if line.startswith('uploaded\t')])
            results['webloom publish'].append(elapsed)
            elapsed, out = timed(command, env)
            if not out.startswith('published 0 files'):
                sys.exit('the second publish sent files:\n' + out)
            results['webloom, nothing changed'].append(elapsed)

            target = 'lftp-%d' % round_
            script = ('set ftp:ssl-allow no; set net:max-retries 1; set cmd:fail-exit yes; '
                      'mirror -R --parallel=4 %s %s; quit' % (site, target))
            elapsed, _ = timed(['lftp', '-u', '%s,%s' % (USER, PASSWORD), '-e', script,
                                'ftp://127.0.0.1:%d' % port], env)
            results['lftp mirror -R'].append(elapsed)
            if sorted(os.listdir(os.path.join(root, target))) != sorted(os.listdir(site)):
                sys.exit('lftp did not send every file')
            if sorted(os.listdir(os.path.join(root, 'webloom-%d' % round_))) != sorted(os.listdir(site)):
                sys.exit('webloom did not send every file')
    finally:
        proxy.kill()
        server.kill()
        shutil.rmtree(work, ignore_errors=True)

    print('%d files (%d photos of %d bytes and their page), 4 connections, control connection delayed %g ms '
          'each way, median of %d rounds' % (count, args.files, args.size, args.delay, args.rounds))
    medians = {name: statistics.median(times) for name, times in results.items()}
    for name, times in results.items():
        print('  %-26s %6.2f s   (%s)' % (name, medians[name], ', '.join('%.2f' % t for t in times)))
    print('  ratio webloom / lftp: %.2f' % (medians['webloom publish'] / medians['lftp mirror -R']))


if __name__ == '__main__':
    main()
