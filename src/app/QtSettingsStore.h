// The application's settings store: QSettings under "Vantrel Inc." / "Ambrio", group "PDQXCAPP" (an INI
// file under ~/.config on Linux, the registry on Windows). Byte records are stored as QByteArray.
#pragma once

#include "Settings.h"

#include <QSettings>

#include <memory>

class CQtSettingsStore : public ISettingsStore {
public:
    // The per-user store of the application.
    CQtSettingsStore();
    // An INI file of its own (tests, portable setups).
    explicit CQtSettingsStore(const QString& iniPath);

    bool GetInt(const std::string& key, uint32_t& value) const override;
    bool GetText(const std::string& key, std::string& value) const override;
    bool GetBytes(const std::string& key, std::vector<uint8_t>& value) const override;
    void SetInt(const std::string& key, uint32_t value) override;
    void SetText(const std::string& key, const std::string& value) override;
    void SetBytes(const std::string& key, const std::vector<uint8_t>& value) override;

    // Writes pending changes to permanent storage; true when that worked.
    bool Sync();

private:
    QVariant Value(const std::string& key) const;
    void SetValue(const std::string& key, const QVariant& value);

    std::unique_ptr<QSettings> settings_;
};
