#include "dialogs/about_dlg.h"

#include <QDesktopServices>
#include <QFile>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/alert_sink.h"
#include "base/module_folder.h"
#include "base/text.h"
#include "config/setting_param_manage.h"
#include "localization/localizable_string.h"
#include "widgets/picture_box.h"

// The licence text is compiled into the dialogs library; a static library's resources must be
// registered by hand.
static void RegisterDialogsQrc() { Q_INIT_RESOURCE(dialogs); }

namespace orvane {

namespace {

// The logo's own proportions (Resource/image/log.bmp is 288 x 200).
constexpr int kLogoWidth = 288;
constexpr int kLogoHeight = 200;

QLabel* PlainLabel(const char* name, Qt::Alignment alignment) {
    auto* label = new QLabel;
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment);
    return label;
}

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent, const AboutDlgServices& services_)
    : QDialog(parent),
      settings(services_.settings != nullptr ? *services_.settings : *CSettingParamManage::GetInstance()),
      strings(services_.strings != nullptr ? *services_.strings : *CLocalizableString::GetInstance()),
      services(services_) {
    setObjectName(QStringLiteral("aboutDialog"));
    setModal(true);
    setWindowTitle(FromUtf8(strings.GetString(keys::kDlgAbout)));

    logo = new CPictureBox;
    logo->setObjectName(QStringLiteral("logo"));
    // 185 dialog units wide, as tall as the picture's proportions ask.
    const int logoWidth = fontMetrics().averageCharWidth() * 185 / 4;
    logo->setFixedSize(logoWidth, logoWidth * kLogoHeight / kLogoWidth);
    const std::string folder = services.moduleFolder.empty() ? GetModuleFolder() : services.moduleFolder;
    logo->SetImage(FromUtf8(folder + kLogoFile));

    productName = PlainLabel("productName", Qt::AlignCenter);
    companyName = PlainLabel("companyName", Qt::AlignCenter);
    websiteLink = new QLabel;
    websiteLink->setObjectName(QStringLiteral("websiteLink"));
    websiteLink->setTextFormat(Qt::RichText);
    websiteLink->setAlignment(Qt::AlignCenter);
    websiteLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    websiteLink->setOpenExternalLinks(false);
    connect(websiteLink, &QLabel::linkActivated, this, [this] { OpenWebsite(); });

    okButton = new QPushButton(FromUtf8(strings.GetString(keys::kAboutOk)));
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setAutoDefault(false);
    okButton->setMinimumWidth(fontMetrics().averageCharWidth() * 73 / 4);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

    copyright = PlainLabel("copyright", Qt::AlignLeft | Qt::AlignVCenter);
    version = PlainLabel("version", Qt::AlignRight | Qt::AlignVCenter);
    version->setText(QStringLiteral("V3.3.32"));

    seeMore = new QPushButton(FromUtf8(strings.GetString(keys::kAboutBtnSeeMore)));
    seeMore->setObjectName(QStringLiteral("seeMoreButton"));
    seeMore->setAutoDefault(false);
    connect(seeMore, &QPushButton::clicked, this, &CAboutDlg::ShowLicence);

    licence = new QPlainTextEdit;
    licence->setObjectName(QStringLiteral("licenceText"));
    licence->setReadOnly(true);
    licence->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    licence->hide();

    // The licence text takes the place of "See more..." when it unfolds.
    moreArea = new QWidget;
    auto* more = new QGridLayout(moreArea);
    more->setContentsMargins(0, 0, 0, 0);
    more->addWidget(seeMore, 0, 0, Qt::AlignRight | Qt::AlignTop);
    more->addWidget(licence, 0, 0);
    moreArea->setFixedHeight(seeMore->sizeHint().height());

    auto* names = new QVBoxLayout;
    names->addStretch(1);
    names->addWidget(productName);
    names->addWidget(companyName);
    names->addWidget(websiteLink);
    names->addSpacing(fontMetrics().height());
    names->addWidget(okButton, 0, Qt::AlignHCenter);
    names->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addWidget(logo, 0, Qt::AlignTop);
    top->addSpacing(fontMetrics().averageCharWidth() * 4);
    top->addLayout(names, 1);

    auto* lines = new QHBoxLayout;
    lines->addWidget(copyright, 1);
    lines->addWidget(version);

    auto* column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addLayout(lines);
    column->addWidget(moreArea);
    // An about box is as big as its content, no bigger: unfolding the licence grows it by exactly the
    // growth of the text box.
    column->setSizeConstraint(QLayout::SetFixedSize);

    const CSettingParam param = settings.GetUsingParam();
    companyName->setText(FromUtf8(param.companyname));
    productName->setText(FromUtf8(param.producename));
    copyright->setText(FromUtf8(param.copyright));
    version->setText(FromUtf8(param.version));
    website = FromUtf8(param.companywebsite);
    const QString shown = website.toHtmlEscaped();
    websiteLink->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(shown));
    websiteLink->setVisible(!website.isEmpty());

    for (QLabel* label : {productName, companyName, copyright, version, websiteLink}) {
        label->setAccessibleName(label == websiteLink ? website : label->text());
    }
    okButton->setAccessibleName(okButton->text());
    seeMore->setAccessibleName(seeMore->text());
    licence->setAccessibleName(seeMore->text());
    logo->setAccessibleName(productName->text());
}

QWidget* CAboutDlg::Control(int id) const {
    switch (id) {
        case kLogo:
            return logo;
        case kProductName:
            return productName;
        case kCompanyName:
            return companyName;
        case kWebsite:
            return websiteLink;
        case kOk:
            return okButton;
        case kCopyright:
            return copyright;
        case kVersion:
            return version;
        case kSeeMore:
            return seeMore;
        case kLicence:
            return licence;
        default:
            return nullptr;
    }
}

QString CAboutDlg::LicenceText() {
    static const bool registered = (RegisterDialogsQrc(), true);
    (void)registered;
    QFile file(QStringLiteral(":/dialogs/License.txt"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

void CAboutDlg::ShowLicence() {
    const int grownBy = kLicenceGrowth;
    seeMore->hide();
    licence->setPlainText(LicenceText());
    moreArea->setFixedHeight(moreArea->minimumHeight() + grownBy);
    licence->show();
    if (layout() != nullptr) layout()->activate();
}

void CAboutDlg::OpenWebsite() {
    const QUrl url = QUrl::fromUserInput(website);
    const QString scheme = url.scheme().toLower();
    // Only a web address: the text comes from a settings file and must not start other programs.
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        ShowAlert(Format(strings.GetString(keys::kAlertOpenWebsite), website.toStdString()));
        return;
    }
    const bool opened = services.openUrl ? services.openUrl(url) : QDesktopServices::openUrl(url);
    if (!opened) {
        ShowAlert(Format(strings.GetString(keys::kAlertOpenWebsite), website.toStdString()));
    }
}

void CAboutDlg::keyPressEvent(QKeyEvent* e) {
    // Enter reaches the focused control only; Escape closes the box as usual.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

}  // namespace orvane
