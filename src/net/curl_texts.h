// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstring>

// Texts the worker's files share. Internal to src/net.

namespace webloom::curltext {

// Failures found before or without asking the server. They stand in for the
// server's reply line in messages and in the log.
inline constexpr char16_t kBadAddressText[] = u"アドレスが正しくありません";
inline constexpr char16_t kBadNameText[] = u"この名前は使えません";
inline constexpr char16_t kLocalMissingText[] = u"ローカルファイルを読み取れません";
inline constexpr char16_t kLocalExistsText[] = u"同じ名前のローカルファイルがあります";
inline constexpr char16_t kLocalWriteText[] = u"ローカルファイルを書き込めません";
inline constexpr char16_t kRemoteExistsText[] = u"サーバーに同じ名前のファイルがあります";
inline constexpr char16_t kNoHandleText[] = u"通信を始められません";
inline constexpr char16_t kListingTooLargeText[] = u"ディレクトリの一覧が大きすぎます（64 MiB まで）";
inline constexpr char16_t kCancelledText[] = u"中止しました";

inline QString text(const char16_t *utf16)
{
    return QString::fromUtf16(utf16);
}

inline QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace webloom::curltext
