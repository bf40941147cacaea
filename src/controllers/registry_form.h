// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

#include "document/prompter.h"
#include "sites/password_store.h"
#include "sites/registry.h"

namespace webloom {

// The stored location of the registry file (the hostmei setting).
class HostmeiSetting {
public:
    virtual ~HostmeiSetting() = default;
    virtual QString read() const = 0;
    virtual void save(const QString &path) = 0;
};

// The connection fields of the FTP window as the registry commands see them.
// The window copies its widgets in before a command and shows the result.
struct RegistryForm {
    QStringList comboItems; // drop-down list of Combo1
    QString comboText;      // text of Combo1 (connection name)
    QString label9;         // the name "接続名削除" deletes
    QString text1;          // address
    QString text2;          // user name
    QString text3;          // password
    QString curname;        // name last loaded by a read
};

// The registry commands of the FTP window.
//
// With a password store, a password registered goes into the keyring and
// its line keeps an empty password field; an entry read with an empty field
// takes the keyring's password; a registry that still holds passwords is
// offered once to move them there (No is kept in the settings store, and
// that file then keeps its passwords, new ones too); deleting an entry
// removes its keyring entry unless another entry of the file shares it.
// Where the keyring cannot be reached the passwords stay in the file, as
// without a store, and the user is told once a run. Without a store (nullptr)
// every password stays in the file and nothing is said about a keyring.
class ConnectionRegistry {
public:
    ConnectionRegistry(RegistryForm &form, HostmeiSetting &hostmei, Prompter &prompter,
                       PasswordStore *passwords = nullptr);

    // The dialog state of cobftp; proposes "hostname.txt" until a file is chosen.
    FileDialogState &cobftp() { return cobftp_; }

    // Read all: fills the drop-down list and loads the first entry.
    void fyomiko();
    // Load by name: fills the drop-down list and loads the last entry of that name.
    void henkou(const QString &name);
    // Choose the registry file with the save dialog; the empty text on cancel.
    QString hsttxt();
    // Stores the current connection fields into the file at path.
    void fkakiko(const QString &path);
    // Removes every entry of that name from the file.
    void fsakujyo(const QString &name);

    void command2();                   // 接続名登録
    void command3();                   // 接続名削除
    void command8(bool shiftOnlyHeld); // 接続名登録場所変更 (Shift: forget the location first)
    void command9();                   // 登録場所表示

    // Typing in Combo1: Label9 follows the text.
    void comboEdited(const QString &text);
    // A name chosen from the drop-down list.
    void comboChosen(const QString &name);

    // The entries of that name and address take the new address, without a
    // word: the user has just answered a question about it. False when the
    // registry could not be read or written.
    bool rememberAddress(const QString &name, const QString &oldAddress, const QString &newAddress);

private:
    bool precondition(const QString &missingMessage);
    std::optional<QList<RegisteredConnection>> readStored();
    // The start of every read command: precondition, cleared fields, entries.
    std::optional<QList<RegisteredConnection>> beginRead(const QString &missingMessage);
    // Writes the entries; a failure is shown and leaves the file as it was.
    bool store(const QString &path, const QList<RegisteredConnection> &entries);
    void clearFields();
    void load(const RegisteredConnection &c);
    // Offers to move the passwords of the file into the keyring; on Yes the
    // entries come back with empty password fields, as the file now holds
    // them.
    void offerMove(QList<RegisteredConnection> &entries);
    // Whether a password registered into the file at path goes to the keyring.
    bool keyringFor(const QString &path) const;
    // Tells the user, once a run, that the passwords stay in the file.
    void unreachable();

    RegistryForm &form_;
    HostmeiSetting &hostmei_;
    Prompter &prompter_;
    PasswordStore *passwords_;
    FileDialogState cobftp_;
    bool moveOffered_ = false;
};

} // namespace webloom
