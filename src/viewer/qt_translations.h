#pragma once

#include <QLocale>
#include <QString>
#include <memory>

class QTranslator;

namespace orvane {

struct LanguageItem;
class CSettingParamManage;

// Qt's own texts (the buttons of message boxes and file dialogs, the standard context menus) in the
// interface's language: Qt's "qtbase" catalogue for that language, installed on the application in
// place of the one installed before, so that every open window follows at once. Interface thread
// only; a QCoreApplication must exist.
class CQtTranslations final {
public:
    // folder: where the catalogues lie; empty: Qt's own translations folder.
    explicit CQtTranslations(QString folder = {});
    // Removes the catalogue it installed.
    ~CQtTranslations();

    CQtTranslations(const CQtTranslations&) = delete;
    CQtTranslations& operator=(const CQtTranslations&) = delete;

    // For the effective language of the current settings record. True when a catalogue for it is
    // installed; false when there is none (Qt's built-in English texts are then shown).
    bool Apply(const CSettingParamManage& settings);
    bool Apply(const QLocale& locale);

    // The locale of a language item: from its Windows language id, else from its identifier read
    // as a language tag ("zh-Hans"); English when neither names a language.
    static QLocale LocaleOf(const LanguageItem& item);

    // The catalogue file installed now; empty when none is.
    QString InstalledFile() const;

private:
    QString folder;
    std::unique_ptr<QTranslator> translator;  // installed on the application while not null
    QString appliedLocale;                    // QLocale::name() of the last Apply
};

}  // namespace orvane
