// SPDX-License-Identifier: GPL-3.0-or-later
#include "connect/trust_questions.h"

#include <QStringList>

namespace webloom {

namespace {

QString dateText(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy/MM/dd")) : QStringLiteral("不明");
}

} // namespace

bool askTrust(Prompter &prompter, TrustStore *trust, const QString &hostPort, const PeerIdentity &identity)
{
    const bool certificate = identity.kind == PeerIdentity::Kind::Certificate;
    const bool changed = !identity.rememberedFingerprint.isEmpty();
    const QString server = QStringLiteral("サーバー：%1:%2").arg(identity.host).arg(identity.port);
    QStringList lines;
    if (changed) {
        lines << (certificate ? QStringLiteral("サーバーの証明書が前回と変わっています。")
                              : QStringLiteral("サーバーの鍵が前回と変わっています。"))
              << QStringLiteral("別のサーバーになりすまされているおそれがあります。") << QString() << server
              << QStringLiteral("前回の指紋：") + identity.rememberedFingerprint
              << QStringLiteral("今回の指紋：") + identity.shownFingerprint();
    } else {
        lines << (certificate ? QStringLiteral("このサーバーの証明書を確かめられませんでした。")
                              : QStringLiteral("このサーバーの鍵は、まだ確かめられていません。"))
              << QString() << server << QStringLiteral("指紋：") + identity.shownFingerprint();
    }
    if (certificate) {
        lines << QStringLiteral("理由：") + identity.reason << QStringLiteral("発行先：") + identity.subject
              << QStringLiteral("発行者：") + identity.issuer
              << QStringLiteral("有効期間：%1 ～ %2").arg(dateText(identity.notBefore), dateText(identity.notAfter));
    }
    lines << QString()
          << (certificate ? QStringLiteral("この証明書を信頼して接続しますか？")
                          : QStringLiteral("この鍵を信頼して接続しますか？"));
    const QString title = QStringLiteral("サーバーの確認");
    const QString text = framedQuestion(lines.join(QLatin1Char('\n')));
    // Only an explicit choice replaces what was trusted before.
    const bool yes = changed ? prompter.questionDefaultNo(title, text) : prompter.question(title, text);
    if (!yes)
        return false;
    QString error;
    const TrustStore::Kind kind = certificate ? TrustStore::Kind::Certificate : TrustStore::Kind::HostKey;
    if (!trust || !trust->remember(hostPort, kind, identity.fingerprint, &error)) {
        prompter.message(QStringLiteral("信頼したことを記録できませんでした。\n") + error);
        return false;
    }
    return true;
}

bool askUnencrypted(Prompter &prompter)
{
    return prompter.questionDefaultNo(QStringLiteral("暗号化の確認"),
                                      framedQuestion(QStringLiteral("このサーバーは暗号化に対応していません。\n"
                                                                    "パスワードが暗号化されずに送られます。\n"
                                                                    "接続しますか？")));
}

} // namespace webloom
