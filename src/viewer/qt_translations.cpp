#include "viewer/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "config/setting_param.h"
#include "config/setting_param_manage.h"

namespace orvane {

CQtTranslations::CQtTranslations(QString folder_)
    : folder(folder_.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : std::move(folder_)) {}

CQtTranslations::~CQtTranslations() {
    if (translator) QCoreApplication::removeTranslator(translator.get());
}

QLocale CQtTranslations::LocaleOf(const LanguageItem& item) {
    const std::string name = LocaleNameFromLangId(item.langid);
    if (!name.empty()) return QLocale(QString::fromStdString(name));
    const QLocale tagged(QString::fromStdString(item.indentifier));
    if (tagged.language() != QLocale::C && tagged.language() != QLocale::AnyLanguage) return tagged;
    return QLocale(QLocale::English);
}

bool CQtTranslations::Apply(const CSettingParamManage& settings) {
    const CSettingParam param = settings.GetUsingParam();
    return Apply(LocaleOf(param.GetLanguage(param.GetLanguageIndex())));
}

bool CQtTranslations::Apply(const QLocale& locale) {
    if (locale.name() == appliedLocale) return translator != nullptr;
    appliedLocale = locale.name();
    if (translator) {
        QCoreApplication::removeTranslator(translator.get());
        translator.reset();
    }
    auto loaded = std::make_unique<QTranslator>();
    // Tries qtbase_zh_Hans_CN, qtbase_zh_CN, qtbase_zh, ... for each of the locale's languages.
    if (!loaded->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder, QStringLiteral(".qm"))) {
        return false;
    }
    translator = std::move(loaded);
    QCoreApplication::installTranslator(translator.get());
    return true;
}

QString CQtTranslations::InstalledFile() const { return translator ? translator->filePath() : QString(); }

}  // namespace orvane
