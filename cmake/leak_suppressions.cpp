// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into the sanitizer build's programs only.
//
// When closing waits too long for a slow server's goodbye, the sockets are
// cut, and libcurl then leaves libssh2's session and the OpenSSL objects it
// holds behind. Those are not ours to free. OpenSSL and libssh2 are built
// without frame pointers, so a leak inside them never shows who asked for the
// memory; a leak anywhere else still fails the run. libvips and GLib keep
// their types, thread pools and per-thread buffers for the life of the
// process, by design.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libssh2.so\n"
           "leak:libvips.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libcrypto.so\n";
}
