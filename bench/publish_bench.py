#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Publishes a site of FILES photos of SIZE bytes (and the photo page that
shows them) with `webloom publish --parallel 4`, and mirrors the same folder
with `lftp -e "mirror -R --parallel=4"`, to a real FTP server on 127.0.0.1
through a proxy that delays the control connection by DELAY ms each way, in
the same run. Then times a second publish with nothing changed.

Then the same over SFTP, to OpenSSH's sshd on 127.0.0.1 (run for the current
user with its own host key, client key and authorized_keys in a temporary
folder; key log-in only) through the same delay, which there holds up every
packet: a site of SFTP_FILES photos and their page, against lftp's mirror
over sftp://. Each pair is printed with its ratio.

usage: bench/publish_bench.py [--webloom build-rel/webloom] [--files 100]
                              [--size 10240] [--delay 20] [--rounds 3]
                              [--sftp-files 98] [--no-sftp]
"""
import argparse
import os
import pwd
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from upload_bench import PASSWORD, SERVER, USER, start, timed  # noqa: E402


def picture_bytes():
    """A small real JPEG: only pictures are published, and whatever follows a
    JPEG's end is no part of its picture, so a photo of any size is this and
    random bytes after it."""
    with open(os.path.join(HERE, '..', 'examples', 'bara.jpg'), 'rb') as f:
        return f.read()


def make_site(work, name, files, size):
    """A folder of photos and the project whose photo page shows them, with
    the pages written into the same folder."""
    site = os.path.join(work, name)
    os.makedirs(site)
    picture = picture_bytes()
    for i in range(files):
        with open(os.path.join(site, 'photo%03d.jpg' % i), 'wb') as f:
            f.write(picture + os.urandom(max(0, size - len(picture))))
    project = os.path.join(work, name + '.txt')
    with open(project, 'wb') as f:
        f.write(project_bytes(site))
    return site, project


def start_sshd(work, root):
    """sshd on a free loopback port for the current user, key log-in only,
    SFTP starting in root. Returns the process, its port, the client's home
    (holding .ssh/id_ed25519) and the host key's fingerprint."""
    keys = os.path.join(work, 'sshd')
    home = os.path.join(work, 'ssh-home')
    os.makedirs(keys)
    os.makedirs(os.path.join(home, '.ssh'))
    host_key = os.path.join(keys, 'host_ed25519')
    client_key = os.path.join(home, '.ssh', 'id_ed25519')
    for key in (host_key, client_key):
        subprocess.run(['ssh-keygen', '-q', '-t', 'ed25519', '-N', '', '-f', key], check=True)
    fingerprint = subprocess.run(['ssh-keygen', '-l', '-E', 'sha256', '-f', host_key + '.pub'], check=True,
                                 stdout=subprocess.PIPE, text=True).stdout.split()[1]
    authorized = os.path.join(keys, 'authorized_keys')
    shutil.copy(client_key + '.pub', authorized)
    if os.geteuid() == 0:
        os.makedirs('/run/sshd', exist_ok=True)
    probe = socket.socket()
    probe.bind(('127.0.0.1', 0))
    port = probe.getsockname()[1]
    probe.close()
    user = pwd.getpwuid(os.getuid()).pw_name
    config = os.path.join(keys, 'sshd.conf')
    with open(config, 'w') as f:
        f.write('Port %d\nListenAddress 127.0.0.1\nHostKey %s\nPidFile %s/sshd.pid\nAuthorizedKeysFile %s\n'
                'StrictModes no\nUsePAM no\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n'
                'PubkeyAuthentication yes\nPermitRootLogin prohibit-password\nAllowUsers %s\n'
                'Subsystem sftp internal-sftp\nForceCommand internal-sftp -d %s\n'
                % (port, host_key, keys, authorized, user, root))
    process = subprocess.Popen(['/usr/sbin/sshd', '-D', '-e', '-f', config], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(('127.0.0.1', port), 0.2).close()
            break
        except OSError:
            time.sleep(0.05)
    return process, port, home, fingerprint, user


def project_bytes(site):
    lines = ['ki001=' + site, 'te001=http://www.example.jp/', 'te002=bench@example.jp', 'te003=' + site,
             'te005=jpg', 'te006=http://', 'te007=1000', 'te008=bench', 'te009=photo']
    return ('\r\n'.join(lines) + '\r\n').encode('cp932')


def check_sent(root, target, site, who):
    if sorted(os.listdir(os.path.join(root, target))) != sorted(os.listdir(site)):
        sys.exit('%s did not send every file to %s' % (who, target))


def publish_pair(args, results, label, site, project, root, registry, env, lftp_address, lftp_settings,
                 webloom_extra=()):
    """Rounds of a first publish, a publish with nothing changed and lftp's
    mirror of the same folder; returns how many files webloom sent."""
    count = 0
    for round_ in range(args.rounds):
        target = '%s-webloom-%d' % (label, round_)
        shutil.rmtree(os.path.join(env['XDG_DATA_HOME']), ignore_errors=True)
        command = [args.webloom, 'publish', project, '--connection', 'bench', '--registry', registry,
                   '--remote', target, '--parallel', '4', '--no-check', '--original-photos'] + list(webloom_extra)
        elapsed, out = timed(command, env)
        count = len([line for line in out.splitlines() if line.startswith('uploaded\t')])
        results['webloom publish'].append(elapsed)
        elapsed, out = timed(command, env)
        if not out.startswith('published 0 files'):
            sys.exit('the second publish sent files:\n' + out)
        results['webloom, nothing changed'].append(elapsed)
        check_sent(root, target, site, 'webloom')

        target = '%s-lftp-%d' % (label, round_)
        script = ('%sset net:max-retries 1; set cmd:fail-exit yes; mirror -R --parallel=4 %s %s; quit'
                  % (lftp_settings, site, target))
        elapsed, _ = timed(['lftp', '-u', lftp_address[0], '-e', script, lftp_address[1]], env)
        results['lftp mirror -R'].append(elapsed)
        check_sent(root, target, site, 'lftp')
    return count


def report(title, results, rounds):
    print('%s, median of %d rounds' % (title, rounds))
    medians = {name: statistics.median(times) for name, times in results.items()}
    for name, times in results.items():
        print('  %-26s %6.2f s   (%s)' % (name, medians[name], ', '.join('%.2f' % t for t in times)))
    print('  ratio webloom / lftp: %.2f' % (medians['webloom publish'] / medians['lftp mirror -R']))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--webloom', default=os.path.join(HERE, '..', 'build-rel', 'webloom'))
    parser.add_argument('--files', type=int, default=100)
    parser.add_argument('--size', type=int, default=10 * 1024)
    parser.add_argument('--delay', type=float, default=20)
    parser.add_argument('--rounds', type=int, default=3)
    parser.add_argument('--sftp-files', type=int, default=98)
    parser.add_argument('--no-sftp', action='store_true')
    args = parser.parse_args()
    if not os.access(args.webloom, os.X_OK):
        sys.exit('no program at %s (build it first, see the README)' % args.webloom)
    if not shutil.which('lftp'):
        sys.exit('lftp is not installed (apt-get install lftp)')
    sftp = not args.no_sftp
    if sftp and not os.access('/usr/sbin/sshd', os.X_OK):
        sys.exit('sshd is not installed (apt-get install openssh-server), or run with --no-sftp')

    work = tempfile.mkdtemp(prefix='webloom-publish-bench-')
    root = os.path.join(work, 'root')
    home = os.path.join(work, 'home')
    for folder in (root, home):
        os.makedirs(folder)
    site, project = make_site(work, 'site', args.files, args.size)
    processes = []
    try:
        server, server_port = start(['/usr/bin/python3', '-c', SERVER, root, USER, PASSWORD])
        processes.append(server)
        proxy, port = start([sys.executable, os.path.join(HERE, 'delay_proxy.py'), str(server_port),
                             str(args.delay)])
        processes.append(proxy)
        registry = os.path.join(work, 'hosts.txt')
        with open(registry, 'wb') as f:
            f.write(('"bench","ftp://127.0.0.1:%d","%s","%s"\r\n' % (port, USER, PASSWORD)).encode('cp932'))
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(home, 'config'), XDG_DATA_HOME=os.path.join(home, 'data'))
        env.pop('WEBLOOM_FTP_PASSWORD', None)
        results = {'webloom publish': [], 'lftp mirror -R': [], 'webloom, nothing changed': []}
        count = publish_pair(args, results, 'ftp', site, project, root, registry, env,
                             ('%s,%s' % (USER, PASSWORD), 'ftp://127.0.0.1:%d' % port), 'set ftp:ssl-allow no; ')
        report('FTP: %d files (%d photos of %d bytes and their page), 4 connections, control connection delayed '
               '%g ms each way' % (count, args.files, args.size, args.delay), results, args.rounds)
        if not sftp:
            return

        sftp_site, sftp_project = make_site(work, 'sftp-site', args.sftp_files, args.size)
        sshd, sshd_port, ssh_home, fingerprint, user = start_sshd(work, root)
        processes.append(sshd)
        proxy, port = start([sys.executable, os.path.join(HERE, 'delay_proxy.py'), str(sshd_port),
                             str(args.delay)])
        processes.append(proxy)
        with open(registry, 'wb') as f:
            f.write(('"bench","sftp://127.0.0.1:%d","%s",""\r\n' % (port, user)).encode('cp932'))
        # Only the bench's own key, never an agent of the user's.
        env = dict(env, HOME=ssh_home)
        env.pop('SSH_AUTH_SOCK', None)
        key = os.path.join(ssh_home, '.ssh', 'id_ed25519')
        connect = ('ssh -a -x -i %s -o IdentitiesOnly=yes -o StrictHostKeyChecking=no '
                   '-o UserKnownHostsFile=/dev/null -o LogLevel=ERROR' % key)
        results = {'webloom publish': [], 'lftp mirror -R': [], 'webloom, nothing changed': []}
        count = publish_pair(args, results, 'sftp', sftp_site, sftp_project, root, registry, env,
                             ('%s,' % user, 'sftp://127.0.0.1:%d' % port),
                             'set sftp:connect-program "%s"; ' % connect, ('--trust', fingerprint))
        report('SFTP (OpenSSH sshd, key log-in): %d files (%d photos of %d bytes and their page), 4 connections, '
               'every packet delayed %g ms each way' % (count, args.sftp_files, args.size, args.delay),
               results, args.rounds)
    finally:
        for process in reversed(processes):
            process.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
