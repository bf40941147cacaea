#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Uploads the same files with `webloom ftp` and with curl's multi-file upload
to a real FTP server on 127.0.0.1, through a proxy that delays the control
connection by DELAY ms each way, in the same run, and prints both times.

usage: bench/upload_bench.py [--webloom build-rel/webloom] [--files 100]
                             [--size 10240] [--delay 20] [--rounds 3]
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
USER, PASSWORD = 'bench', 'bench-pass'

SERVER = r'''
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
authorizer = DummyAuthorizer()
authorizer.add_user(sys.argv[2], sys.argv[3], sys.argv[1], perm='elradfmwMT')
FTPHandler.authorizer = authorizer
FTPHandler.banner = 'bench'
server = FTPServer(('127.0.0.1', 0), FTPHandler)
print(server.address[1], flush=True)
server.serve_forever()
'''


def start(command):
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = int(process.stdout.readline())
    return process, port


def timed(command, env=None):
    begin = time.monotonic()
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    elapsed = time.monotonic() - begin
    if result.returncode != 0:
        sys.exit('failed: %s\n%s%s' % (' '.join(command[:4]), result.stdout[-2000:], result.stderr[-2000:]))
    return elapsed, result.stdout


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

    work = tempfile.mkdtemp(prefix='webloom-bench-')
    local = os.path.join(work, 'local')
    root = os.path.join(work, 'root')
    os.makedirs(local)
    os.makedirs(root)
    names = ['page%03d.html' % i for i in range(args.files)]
    for i, name in enumerate(names):
        with open(os.path.join(local, name), 'wb') as f:
            f.write(os.urandom(args.size))

    server, server_port = start(['/usr/bin/python3', '-c', SERVER, root, USER, PASSWORD])
    proxy, port = start([sys.executable, os.path.join(HERE, 'delay_proxy.py'), str(server_port), str(args.delay)])
    env = dict(os.environ, WEBLOOM_FTP_PASSWORD=PASSWORD)
    env.pop('WEBLOOM_FTP_TRACE', None)
    results = {'webloom ftp': [], 'curl -T': []}
    try:
        for round_ in range(args.rounds):
            for tool in results:
                target = '%s-%d' % (tool.split()[0], round_)
                os.makedirs(os.path.join(root, target))
                if tool == 'webloom ftp':
                    command = [args.webloom, 'ftp', '127.0.0.1:%d' % port, USER, '--local', local, 'CD ' + target]
                    command += ['PUT %s %s' % (n, n) for n in names]
                    elapsed, out = timed(command, env)
                else:
                    command = ['curl', '-s', '-S', '--user', '%s:%s' % (USER, PASSWORD), '-T',
                               '{%s}' % ','.join(os.path.join(local, n) for n in names),
                               'ftp://127.0.0.1:%d/%s/' % (port, target)]
                    elapsed, out = timed(command)
                sent = sorted(os.listdir(os.path.join(root, target)))
                if sent != sorted(names):
                    sys.exit('%s did not send every file' % tool)
                results[tool].append(elapsed)
    finally:
        proxy.kill()
        server.kill()
        shutil.rmtree(work, ignore_errors=True)

    print('%d files of %d bytes, control connection delayed %g ms each way, median of %d rounds'
          % (args.files, args.size, args.delay, args.rounds))
    medians = {tool: statistics.median(times) for tool, times in results.items()}
    for tool, times in results.items():
        print('  %-12s %6.2f s   (%s)' % (tool, medians[tool], ', '.join('%.2f' % t for t in times)))
    print('  ratio webloom / curl: %.2f' % (medians['webloom ftp'] / medians['curl -T']))


if __name__ == '__main__':
    main()
