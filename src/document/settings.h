// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

namespace webloom::settings {

// The two per-user settings of the program, kept in section "startup" of the
// INI store of the application "webloom". Every failure of the store is
// swallowed: a store that cannot be read reads as empty, and a save that
// cannot be written is skipped.

// Points the store at an INI file of the caller's choosing (tests); the empty
// path returns to the per-user store.
void useFile(const QString &path);
// The INI file in use.
QString storePath();

// "firstdir": saves the process's current folder as it is at the moment of
// the call. Nothing in the program reads it back except for inspection.
void saveFirstdir();
QString readFirstdir();

// "hostmei": the full path of the FTP connection registry file; empty when
// none has been chosen. Saving the empty text empties the value and keeps
// the key.
QString readHostmei();
void saveHostmei(const QString &value);

// What the publish window was last set to for one base folder: the
// connection name, the remote folder, the number of connections and how
// photos go. Kept in the settings store (group "publish"), not in the
// project file.
struct PublishChoice {
    QString connection;
    QString remote;
    int parallel = 2;
    bool webPhotos = true; // web copies rather than the files as they are
    int photoSize = 1600;  // longest side of a web copy; 0 keeps the size
};
PublishChoice readPublishChoice(const QString &baseFolder);
void savePublishChoice(const QString &baseFolder, const PublishChoice &choice);

// The web address at which the server folder of one connection appears,
// for the check after a publish, kept per base folder and connection (group
// "webaddress"). Nothing when none was ever saved; a saved empty text means
// no check.
std::optional<QString> readWebAddress(const QString &baseFolder, const QString &connection);
void saveWebAddress(const QString &baseFolder, const QString &connection, const QString &address);

// Whether the passwords of the registry file at that path stay in the file:
// the user answered No when asked to move them into the desktop keyring, and
// is not asked again. Kept in the settings store (group "keyring").
bool readPasswordsStayInFile(const QString &registryPath);
void savePasswordsStayInFile(const QString &registryPath);

// The user's desktop folder, looked up afresh on every call; empty when the
// platform names none or the folder does not exist.
QString desktopFolder();

} // namespace webloom::settings
