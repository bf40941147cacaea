// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "document/prompter.h"
#include "document/site_document.h"

namespace webloom {

// Characters that a text file in code page 932 cannot keep (see
// cp932::lossyCharacters), and where the user typed them.
struct LostCharacters {
    QString where;      // a field caption or a body line, as fieldCaption gives them
    QString characters; // each lost character once, in order
};

// What a project save would lose: every stored field, the link list and the
// body lines of List4 (rebuilt by rfchg just before).
QList<LostCharacters> lostInProject(const SiteDocument &doc);
// What a body file would lose, line by line.
QList<LostCharacters> lostInBody(const QStringList &lines);

// Before a text file is written: when something would be lost, lists the
// characters and where they are, and asks whether to save anyway. True when
// nothing is lost or the user answers Yes; No means back to editing.
bool confirmLostCharacters(Prompter &prompter, const QList<LostCharacters> &lost);

} // namespace webloom
