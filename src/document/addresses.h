// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace webloom {

// The fixed web addresses of the program, in one place: the top page's
// fortune-telling link and credit line, and the about window's links.
namespace addresses {

inline const QString kMakerHomePage = QStringLiteral("https://webloom.example.org/");
inline const QString kFortunePage = QStringLiteral("https://webloom.example.org/cgi-bin/omikuji.cgi");
inline const QString kMakerMail = QStringLiteral("mailto:webloom@example.org");
inline const QString kFreeSoftwarePage = QStringLiteral("https://webloom.example.org/free/");
inline const QString kRecommendedSoftware1 = QStringLiteral("https://webloom.example.org/free/graphics-converter.html");
inline const QString kRecommendedSoftware2 = QStringLiteral("https://webloom.example.org/free/ftp-client.html");

} // namespace addresses

// The version text shown on the top page's credit line and in the about window.
inline const QString kVersionText = QStringLiteral(WEBLOOM_VERSION_TEXT);

} // namespace webloom
