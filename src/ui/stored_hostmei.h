// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "document/settings.h"
#include "controllers/registry_form.h"

namespace webloom {

// The hostmei setting in the per-user settings store.
class StoredHostmei : public HostmeiSetting {
public:
    QString read() const override { return settings::readHostmei(); }
    void save(const QString &path) override { settings::saveHostmei(path); }
};

} // namespace webloom
