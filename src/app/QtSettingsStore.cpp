#include "QtSettingsStore.h"

namespace {
const QString kGroup = QStringLiteral("PDQXCAPP");
}

CQtSettingsStore::CQtSettingsStore()
    : settings_(std::make_unique<QSettings>(QStringLiteral("Vantrel Inc."), QStringLiteral("Ambrio"))) {}

CQtSettingsStore::CQtSettingsStore(const QString& iniPath)
    : settings_(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

QVariant CQtSettingsStore::Value(const std::string& key) const {
    return settings_->value(kGroup + '/' + QString::fromStdString(key));
}

void CQtSettingsStore::SetValue(const std::string& key, const QVariant& value) {
    settings_->setValue(kGroup + '/' + QString::fromStdString(key), value);
}

bool CQtSettingsStore::GetInt(const std::string& key, uint32_t& value) const {
    const QVariant v = Value(key);
    if (!v.isValid() || v.typeId() == QMetaType::QByteArray) return false;
    // INI files keep numbers as text; the registry keeps them as numbers.
    bool ok = false;
    const uint32_t n = v.toUInt(&ok);
    if (!ok) return false;
    value = n;
    return true;
}

bool CQtSettingsStore::GetText(const std::string& key, std::string& value) const {
    const QVariant v = Value(key);
    if (!v.isValid() || v.typeId() != QMetaType::QString) return false;
    value = v.toString().toStdString();
    return true;
}

bool CQtSettingsStore::GetBytes(const std::string& key, std::vector<uint8_t>& value) const {
    const QVariant v = Value(key);
    if (!v.isValid() || v.typeId() != QMetaType::QByteArray) return false;
    const QByteArray bytes = v.toByteArray();
    value.assign(bytes.begin(), bytes.end());
    return true;
}

void CQtSettingsStore::SetInt(const std::string& key, uint32_t value) { SetValue(key, QVariant::fromValue(value)); }

void CQtSettingsStore::SetText(const std::string& key, const std::string& value) {
    SetValue(key, QString::fromStdString(value));
}

void CQtSettingsStore::SetBytes(const std::string& key, const std::vector<uint8_t>& value) {
    SetValue(key, QByteArray(reinterpret_cast<const char*>(value.data()), qsizetype(value.size())));
}

bool CQtSettingsStore::Sync() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}
