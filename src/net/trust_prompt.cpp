// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/trust_prompt.h"

#include <QStringList>

namespace webloom {

// One sentence the user can act on, and the library's own words below it.
QString secureFailureMessage(const TransferOutcome &outcome)
{
    using Failure = TransferOutcome::Failure;
    const bool certificate = outcome.identity.kind == PeerIdentity::Kind::Certificate;
    const bool changed = !outcome.identity.rememberedFingerprint.isEmpty();
    QString sentence;
    QString detail = outcome.detail.isEmpty() ? outcome.reply : outcome.detail;
    switch (outcome.failure) {
    case Failure::Untrusted:
        sentence = certificate ? (changed ? QStringLiteral("証明書が前回と違うため、接続しませんでした。")
                                          : QStringLiteral("証明書を信頼しなかったため、接続しませんでした。"))
                               : (changed ? QStringLiteral("サーバーの鍵が前回と違うため、接続しませんでした。")
                                          : QStringLiteral("サーバーの鍵を信頼しなかったため、接続しませんでした。"));
        detail = QStringLiteral("指紋：") + outcome.identity.shownFingerprint();
        break;
    case Failure::NoTls:
        sentence = QStringLiteral("このサーバーは暗号化に対応していないため、接続しませんでした。");
        break;
    case Failure::TlsDataRefused:
        sentence = QStringLiteral("サーバーが暗号化したデータ接続を断りました。");
        break;
    case Failure::Unsupported:
        sentence =
            QStringLiteral("暗号化の手続きに失敗しました。サーバーがこの接続方式に対応しているか確かめて下さい。");
        break;
    case Failure::Login:
        sentence = outcome.secure ? QStringLiteral("ユーザー名かパスワードが正しくありません。") : QString();
        break;
    default:
        break;
    }
    if (sentence.isEmpty())
        return {};
    return detail.isEmpty() ? sentence : sentence + QLatin1Char('\n') + detail;
}

QString otherIdentityMessage(const PeerIdentity &identity)
{
    const bool certificate = identity.kind == PeerIdentity::Kind::Certificate;
    QStringList lines{certificate ? QStringLiteral("別の接続で、サーバーが違う証明書を示しました。"
                                                   "なりすましのおそれがあるため、公開を止めました。")
                                  : QStringLiteral("別の接続で、サーバーが違う鍵を示しました。"
                                                   "なりすましのおそれがあるため、公開を止めました。")};
    if (!identity.rememberedFingerprint.isEmpty())
        lines << QStringLiteral("信頼した指紋：") + identity.rememberedFingerprint;
    lines << QStringLiteral("今回の指紋：") + identity.fingerprint;
    return lines.join(QLatin1Char('\n'));
}

} // namespace webloom
