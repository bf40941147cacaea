#include "upload/transfer.h"

namespace webloom {

namespace {

struct Keyword {
    const char *text;
    TransferCommand::Kind kind;
    int names; // 0, 1, or 2 (two names in one argument)
};

constexpr Keyword kKeywords[] = {
    {"DIR", TransferCommand::Kind::Dir, 0},       {"CD", TransferCommand::Kind::Cd, 1},
    {"MKDIR", TransferCommand::Kind::Mkdir, 1},   {"RMDIR", TransferCommand::Kind::Rmdir, 1},
    {"DELETE", TransferCommand::Kind::Delete, 1}, {"PUT", TransferCommand::Kind::Put, 2},
    {"GET", TransferCommand::Kind::Get, 2},       {"CLOSE", TransferCommand::Kind::Close, 0},
};

} // namespace

std::optional<TransferCommand> parseTransferCommand(const QString &text)
{
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    const QString word = space < 0 ? text : text.left(space);
    const QString argument = space < 0 ? QString() : text.mid(space + 1);
    for (const Keyword &keyword : kKeywords) {
        if (word.compare(QLatin1String(keyword.text), Qt::CaseInsensitive) != 0)
            continue;
        TransferCommand command;
        command.kind = keyword.kind;
        if (keyword.names == 0)
            return space < 0 ? std::optional(command) : std::nullopt;
        if (argument.isEmpty())
            return std::nullopt;
        if (keyword.names == 1) {
            command.first = argument;
            return command;
        }
        const qsizetype half = argument.size() / 2;
        if (argument.size() % 2 == 1 && argument.at(half) == QLatin1Char(' ') &&
            QStringView(argument).left(half) == QStringView(argument).mid(half + 1)) {
            command.first = argument.left(half);
            command.second = argument.mid(half + 1);
        } else if (const qsizetype cut = argument.indexOf(QLatin1Char(' ')); cut >= 0) {
            command.first = argument.left(cut);
            command.second = argument.mid(cut + 1);
        } else {
            command.first = argument;
            command.second = argument;
        }
        if (command.first.isEmpty() || command.second.isEmpty())
            return std::nullopt;
        return command;
    }
    return std::nullopt;
}

} // namespace webloom
