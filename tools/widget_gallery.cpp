// Shows every widget of the kit in its states and every picture it ships, for a look on a real
// display:  orvane_widget_gallery [--quit-after MS]

#include <QApplication>
#include <QEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "widgets/cool_btn.h"
#include "widgets/widget_images.h"
#include "widgets/x_splitter_wnd.h"
#include "widgets/xp_style_button_st.h"

using namespace orvane;

namespace {

struct Tool {
    const char* caption;
    const char* image;
};
constexpr Tool kTools[] = {{"Settings", "Setting.png"},
                           {"Take a Photo", "TakeAShot.png"},
                           {"Start Timed Shot", "TimedShot.png"},
                           {"Start Recording", "RecordingMovie.png"},
                           {"About", "Help.png"},
                           {"Exit System", "Exit.png"}};

struct RotateItem {
    int id;
    const char* caption;
    const char* image;
};
constexpr RotateItem kRotateItems[] = {{32783, "Rotate 90 CW", "right90.png"},
                                       {32782, "Rotate 90 CCW", "left90.png"},
                                       {32781, "Rotate 180", "180.png"},
                                       {32779, "Flip Vertical", "verz.png"},
                                       {32780, "Flip Horizontal", "horz.png"}};

void MakeHot(QWidget* w) {
    QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), QPointF(w->mapToGlobal(QPoint(4, 4))));
    QApplication::sendEvent(w, &enter);
}

QLabel* Caption(const QString& text) {
    auto* label = new QLabel(text);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

void FillMenu(BCMenu& menu) {
    for (const RotateItem& item : kRotateItems)
        menu.AppendMenu(BCMenu::MF_STRING, item.id, QString::fromUtf8(item.caption),
                        QString::fromUtf8(item.image));
    menu.SetCheck(32781, true);
}

// One toolbar row: the six image buttons (the second hot, the third pressed, the fourth disabled), the
// full-screen button and the rotate menu button.
QWidget* ToolbarRow(CThemeHelperST* theme, bool framed, CCoolBtn** menuButton) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    int index = 0;
    for (const Tool& tool : kTools) {
        auto* button = new CXPStyleButtonST(QString::fromUtf8(tool.caption));
        button->SetThemeHelper(theme);
        if (framed) button->SetFlat(false);
        button->SetImageFile(QString::fromUtf8(tool.image));
        button->LightenInBackground();
        button->SetTooltipText(QString::fromUtf8(tool.caption));
        button->setFixedSize(56, 39);
        layout->addWidget(button);
        if (index == 2) button->setDown(true);
        if (index == 3) button->setEnabled(false);
        ++index;
    }
    auto* full = new CXPStyleButtonST(QStringLiteral("full screen"));
    full->SetThemeHelper(theme);
    if (framed) full->SetFlat(false);
    full->SetImageFile(QStringLiteral("FullScreen.png"));
    full->setFixedSize(32, 28);
    layout->addSpacing(16);
    layout->addWidget(full, 0, Qt::AlignBottom);
    auto* cool = new CCoolBtn;
    cool->SetCaption(QStringLiteral("Flip"));
    cool->SetThemeHelper(theme);
    cool->SetImageFile(QStringLiteral("rotate.png"));
    cool->setFixedSize(84, 24);
    FillMenu(cool->Menu());
    layout->addSpacing(8);
    layout->addWidget(cool, 0, Qt::AlignBottom);
    layout->addStretch();
    if (menuButton) *menuButton = cool;
    return row;
}

QLabel* Picture(const QString& path, int size) {
    auto* label = new QLabel;
    QPixmap pixmap(path);
    if (size > 0 && !pixmap.isNull())
        pixmap = pixmap.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    label->setPixmap(pixmap);
    label->setToolTip(path);
    return label;
}

QLabel* Pane(const QString& text, const char* colour) {
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(true);
    label->setStyleSheet(QStringLiteral("background:%1;").arg(QString::fromLatin1(colour)));
    return label;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    InitWidgetResources();
    int quitAfter = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (QString::fromUtf8(argv[i]) == QStringLiteral("--quit-after"))
            quitAfter = QString::fromUtf8(argv[i + 1]).toInt();

    QWidget window;
    window.setWindowTitle(QStringLiteral("Widget kit"));
    window.setWindowIcon(QIcon(QString::fromLatin1(kAppIconPath)));
    auto* page = new QVBoxLayout(&window);

    CThemeHelperST themed;
    CThemeHelperST unthemed;
    unthemed.SetThemingEnabled(false);

    CCoolBtn* openMenuButton = nullptr;
    page->addWidget(Caption(QStringLiteral("Platform style (2nd hot, 3rd pressed, 4th disabled)")));
    QWidget* themedRow = ToolbarRow(&themed, false, &openMenuButton);
    page->addWidget(themedRow);
    page->addWidget(
        Caption(QStringLiteral("Themes off: the kit's framed drawing, lightened hover background")));
    QWidget* framedRow = ToolbarRow(&unthemed, true, nullptr);
    page->addWidget(framedRow);

    page->addWidget(Caption(QStringLiteral("Missing picture files fall back to text")));
    auto* fallback = new QHBoxLayout;
    auto* missing = new CXPStyleButtonST(QStringLiteral("Take a Photo"));
    missing->SetThemeHelper(&themed);
    missing->SetImageFile(QStringLiteral("NoSuchPicture.png"));
    missing->setFixedSize(90, 39);
    auto* missingFramed = new CXPStyleButtonST(QStringLiteral("Exit System"));
    missingFramed->SetThemeHelper(&unthemed);
    missingFramed->SetFlat(false);
    missingFramed->SetImageFile(QStringLiteral("NoSuchPicture.png"));
    missingFramed->setFixedSize(90, 39);
    auto* coolBare = new CCoolBtn;
    coolBare->SetCaption(QStringLiteral("Flip"));
    coolBare->SetImageFile(QStringLiteral("NoSuchPicture.png"));
    coolBare->setFixedSize(84, 24);
    auto* coolFramed = new CCoolBtn;
    coolFramed->SetCaption(QStringLiteral("Flip"));
    coolFramed->SetThemeHelper(&unthemed);
    coolFramed->SetImageFile(QStringLiteral("rotate.png"));
    coolFramed->setFixedSize(84, 24);
    fallback->addWidget(missing);
    fallback->addWidget(missingFramed);
    fallback->addWidget(coolBare, 0, Qt::AlignBottom);
    fallback->addWidget(new QLabel(QStringLiteral("   framed menu button:")), 0, Qt::AlignBottom);
    fallback->addWidget(coolFramed, 0, Qt::AlignBottom);
    fallback->addStretch();
    page->addLayout(fallback);

    page->addWidget(
        Caption(QStringLiteral("Pictures: toolbar at 64 and 32, rotate at 36 and 18, icons 128 and 153, "
                               "splitter strips 142 143 141 139 (x2)")));
    auto* pictures = new QGridLayout;
    const char* toolbarFiles[] = {"Setting.png", "TakeAShot.png", "TimedShot.png",  "RecordingMovie.png",
                                  "Help.png",    "Exit.png",      "FullScreen.png", "rotate.png"};
    int column = 0;
    for (const char* name : toolbarFiles) {
        pictures->addWidget(Picture(ToolbarImageFolder() + QString::fromUtf8(name), 0), 0, column);
        pictures->addWidget(Picture(ToolbarImageFolder() + QString::fromUtf8(name), 32), 1, column,
                            Qt::AlignCenter);
        ++column;
    }
    const char* rotateFiles[] = {"rotate.png", "right90.png", "left90.png",
                                 "180.png",    "verz.png",    "horz.png"};
    column = 0;
    for (const char* name : rotateFiles) {
        pictures->addWidget(Picture(RotateImageFolder() + QString::fromUtf8(name), 0), 2, column,
                            Qt::AlignCenter);
        pictures->addWidget(Picture(RotateImageFolder() + QString::fromUtf8(name), 18), 3, column,
                            Qt::AlignCenter);
        ++column;
    }
    pictures->addWidget(Picture(QString::fromLatin1(kAppIconPath), 0), 0, 9, 3, 1);
    pictures->addWidget(Picture(QString::fromLatin1(kMovieMarkerIconPath), 0), 0, 10);
    auto* strips = new QHBoxLayout;
    for (const char* path : {kSplitterLeftArrowPath, kSplitterRightArrowPath}) {
        QPixmap strip(QString::fromLatin1(path));
        auto* label = new QLabel;
        label->setPixmap(strip.scaled(strip.size() * 2));
        strips->addWidget(label);
    }
    auto* rowStrips = new QVBoxLayout;
    for (const char* path : {kSplitterUpArrowPath, kSplitterDownArrowPath}) {
        QPixmap strip(QString::fromLatin1(path));
        auto* label = new QLabel;
        label->setPixmap(strip.scaled(strip.size() * 2));
        rowStrips->addWidget(label);
    }
    strips->addLayout(rowStrips);
    pictures->addLayout(strips, 2, 6, 2, 5);
    page->addLayout(pictures);

    page->addWidget(Caption(
        QStringLiteral("Splitters: collapsible (button hot), collapsed, rows; the menus in both looks")));
    auto* bottom = new QHBoxLayout;
    auto* mainSplitter = new CXSplitterWnd;
    mainSplitter->SetCollapseMode(1);
    mainSplitter->CreateStatic(nullptr, 1, 2);
    auto* left = new CNormalSplitterWnd;
    left->CreateStatic(nullptr, 2, 1);
    left->CreateView(0, 0, Pane(QStringLiteral("resource window"), "#f3f6fa"), QSize(120, 60));
    left->CreateView(1, 0, Pane(QStringLiteral("thumbnails"), "#e9eef4"), QSize(120, 120));
    left->SetRowInfo(0, 60, 0);
    mainSplitter->CreateView(0, 0, left, QSize(120, 180));
    mainSplitter->CreateView(0, 1, Pane(QStringLiteral("live video"), "#20262d"), QSize(220, 180));
    mainSplitter->SetColumnInfo(0, 120, 0);
    mainSplitter->setFixedSize(360, 180);
    mainSplitter->SetButtonHot(true);
    bottom->addWidget(mainSplitter);

    auto* collapsed = new CXSplitterWnd;
    collapsed->SetCollapseMode(1);
    collapsed->CreateStatic(nullptr, 1, 2);
    collapsed->CreateView(0, 0, Pane(QStringLiteral("left"), "#f3f6fa"), QSize(60, 180));
    collapsed->CreateView(0, 1, Pane(QStringLiteral("collapsed"), "#20262d"), QSize(100, 180));
    collapsed->SetColumnInfo(0, 60, 0);
    collapsed->setFixedSize(150, 180);
    bottom->addWidget(collapsed);

    auto* rows = new CXSplitterWnd;
    rows->SetCollapseMode(3);
    rows->CreateStatic(nullptr, 2, 1);
    rows->CreateView(0, 0, Pane(QStringLiteral("row 0"), "#f3f6fa"), QSize(150, 70));
    rows->CreateView(1, 0, Pane(QStringLiteral("row 1"), "#e9eef4"), QSize(150, 100));
    rows->SetRowInfo(0, 70, 0);
    rows->setFixedSize(150, 180);
    bottom->addWidget(rows);

    BCMenu classicMenu;
    FillMenu(classicMenu);
    classicMenu.SetXPLook(false);
    classicMenu.setActiveAction(classicMenu.FindCommand(32779));
    auto* classicShot = new QLabel;
    classicShot->setPixmap(classicMenu.grab());
    bottom->addWidget(classicShot, 0, Qt::AlignTop);
    BCMenu xpMenu;
    FillMenu(xpMenu);
    xpMenu.SetXPLook(true);
    xpMenu.setActiveAction(xpMenu.FindCommand(32779));
    auto* xpShot = new QLabel;
    xpShot->setPixmap(xpMenu.grab());
    bottom->addWidget(xpShot, 0, Qt::AlignTop);
    bottom->addStretch();
    page->addLayout(bottom);

    // As the viewer does: report the command and move the check mark onto the chosen item.
    int checkedItem = 32781;
    QObject::connect(openMenuButton, &CCoolBtn::CommandChosen, [&](int id) {
        openMenuButton->Menu().SetCheck(checkedItem, false);
        openMenuButton->Menu().SetCheck(id, true);
        checkedItem = id;
        std::printf("command %d\n", id);
        std::fflush(stdout);
    });

    window.resize(1000, 760);
    window.move(0, 0);
    window.show();

    QTimer::singleShot(300, [&] {
        collapsed->Collapse();
        for (QWidget* row : {themedRow, framedRow}) {
            QList<CXPStyleButtonST*> buttons = row->findChildren<CXPStyleButtonST*>();
            if (buttons.size() > 1) MakeHot(buttons[1]);
        }
        MakeHot(missing);
        if (openMenuButton) openMenuButton->OpenMenu();
    });
    if (quitAfter > 0) QTimer::singleShot(quitAfter, &app, &QApplication::quit);
    return app.exec();
}
