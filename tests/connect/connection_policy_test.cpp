// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>

#include <optional>

#include "connect/connection_questions.h"
#include "support/scripted_prompter.h"

using namespace webloom;
using webloom::test::ScriptedPrompter;

namespace {

// Answers from a script and writes down what it was asked, in order.
class ScriptedQuestions : public ConnectionQuestions {
public:
    bool trust(const QString &hostPort, const PeerIdentity &identity) override
    {
        asked << QStringLiteral("trust %1 %2").arg(hostPort, identity.fingerprint);
        return answer;
    }
    bool goUnencrypted(const QString &hostPort) override
    {
        asked << QStringLiteral("plain? %1").arg(hostPort);
        return answer;
    }
    void noTls(const QString &hostPort, bool schemeless) override
    {
        asked << QStringLiteral("no TLS %1%2").arg(hostPort, schemeless ? QStringLiteral(" schemeless") : QString());
    }
    bool answer = false;
    QStringList asked;
};

TransferOutcome outcomeOf(TransferOutcome::Failure failure)
{
    TransferOutcome outcome;
    outcome.failure = failure;
    outcome.identity.host = QStringLiteral("ftp.example.jp");
    outcome.identity.port = 2121;
    outcome.identity.fingerprint = QStringLiteral("SHA256:new");
    return outcome;
}

} // namespace

// Every front end answers through this one policy: what is asked for each
// failure, what comes back to send again with, and when the registered
// address changes.
TEST(ConnectionPolicy, EachFailureAskedAtMostOnceAndAnsweredByTheConnectionToSendAgain)
{
    using Failure = TransferOutcome::Failure;
    struct Row {
        const char *address;
        Failure failure;
        bool answer;
        std::optional<QString> again; // the address to send again to
        QStringList asked;
    };
    const Row rows[] = {
        {"ftp.example.jp:2121",
         Failure::Untrusted,
         true,
         QStringLiteral("ftp.example.jp:2121"),
         {QStringLiteral("trust ftp.example.jp:2121 SHA256:new")}},
        {"sftp://ftp.example.jp:2121",
         Failure::Untrusted,
         false,
         std::nullopt,
         {QStringLiteral("trust ftp.example.jp:2121 SHA256:new")}},
        {"ftp.example.jp:2121",
         Failure::NoTls,
         true,
         QStringLiteral("ftp://ftp.example.jp:2121"),
         {QStringLiteral("plain? ftp.example.jp:2121")}},
        {"ftp.example.jp:2121",
         Failure::NoTls,
         false,
         std::nullopt,
         {QStringLiteral("plain? ftp.example.jp:2121"), QStringLiteral("no TLS ftp.example.jp:2121 schemeless")}},
        // A scheme that asks for TLS is never talked out of it.
        {"ftpes://ftp.example.jp:2121",
         Failure::NoTls,
         true,
         std::nullopt,
         {QStringLiteral("no TLS ftp.example.jp:2121")}},
        // Nothing else is the user's to lift.
        {"ftp.example.jp:2121", Failure::Login, true, std::nullopt, {}},
        {"ftp.example.jp:2121", Failure::TlsDataRefused, true, std::nullopt, {}},
        {"ftp.example.jp:2121", Failure::None, true, std::nullopt, {}},
        {"", Failure::NoTls, true, std::nullopt, {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << row.address << " failure " << int(row.failure) << " answer " << row.answer);
        ScriptedQuestions questions;
        questions.answer = row.answer;
        const Transfer::Connection current{QString::fromLatin1(row.address), QStringLiteral("neko"),
                                           QStringLiteral("pw")};
        QStringList changes;
        const std::optional<Transfer::Connection> again =
            connectAgain(questions, outcomeOf(row.failure), current, [&](const QString &from, const QString &to) {
                changes << from + QStringLiteral(" -> ") + to;
            });
        EXPECT_EQ(questions.asked, row.asked);
        // Only a changed address is kept for the registered connections.
        EXPECT_EQ(changes, again && again->address != current.address
                               ? QStringList{current.address + QStringLiteral(" -> ") + again->address}
                               : QStringList{});
        ASSERT_EQ(again.has_value(), row.again.has_value());
        if (again) {
            EXPECT_EQ(*again, (Transfer::Connection{*row.again, current.user, current.password}));
        }
    }
}

// The window's questions: trust asked (No the default once the identity
// changed) and remembered on Yes; nothing asked without a fingerprint.
TEST(ConnectionPolicy, TheWindowAsksThroughThePrompterAndRemembersWhatItTrusts)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    TrustStore trust(folder.filePath(QStringLiteral("trusted.txt")));
    ScriptedPrompter prompter;
    PrompterQuestions questions(prompter, &trust);

    PeerIdentity identity = outcomeOf(TransferOutcome::Failure::Untrusted).identity;
    identity.kind = PeerIdentity::Kind::Certificate;
    PeerIdentity none = identity;
    none.fingerprint.clear();
    EXPECT_FALSE(questions.trust(QStringLiteral("ftp.example.jp:2121"), none));
    EXPECT_TRUE(prompter.questions().isEmpty());

    prompter.answerNo();
    EXPECT_FALSE(questions.trust(QStringLiteral("ftp.example.jp:2121"), identity));
    EXPECT_EQ(trust.fingerprint(QStringLiteral("ftp.example.jp:2121"), TrustStore::Kind::Certificate), QString());
    prompter.answerYes();
    EXPECT_TRUE(questions.trust(QStringLiteral("ftp.example.jp:2121"), identity));
    EXPECT_EQ(trust.fingerprint(QStringLiteral("ftp.example.jp:2121"), TrustStore::Kind::Certificate),
              identity.fingerprint);
    ASSERT_EQ(prompter.questions().size(), 2);
    EXPECT_TRUE(prompter.questions().at(1).contains(QStringLiteral("SHA256:new")));

    prompter.answerYes();
    EXPECT_TRUE(questions.goUnencrypted(QStringLiteral("ftp.example.jp:2121")));
    EXPECT_TRUE(prompter.questions().value(2).contains(QStringLiteral("暗号化されずに送られます")));
    EXPECT_FALSE(prompter.answersLeft());
}
