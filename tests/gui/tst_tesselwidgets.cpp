#include <tessel/widgets/GlazeStyle.h>
#include <tessel/widgets/TApplication.h>
#include <tessel/widgets/TBackgroundGroup.h>
#include <tessel/widgets/TButtonBox.h>
#include <tessel/widgets/TDialog.h>
#include <tessel/widgets/TFileChooserEdit.h>
#include <tessel/widgets/TFontSizeManager.h>
#include <tessel/widgets/TFrame.h>
#include <tessel/widgets/TIconButton.h>
#include <tessel/widgets/TLabel.h>
#include <tessel/widgets/TListView.h>
#include <tessel/widgets/TPalette.h>
#include <tessel/widgets/TSpinner.h>
#include <tessel/widgets/TTipLabel.h>
#include <tessel/widgets/TWaterProgress.h>

#include <cmath>

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QLineEdit>
#include <QLockFile>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <cstdlib>
#include <cstring>

using namespace Tessel::Widgets;

namespace {

// Exit codes of the helper modes below, run as child processes of the test.
constexpr int childAcquired = 0;
constexpr int childRefused = 3;

const QStringList iconPaths = {
    ":/close.svg",
    ":/return.svg",
    ":/success.svg",
    ":/failed.svg",
    ":/warning.svg",
    ":/marlin-repair.svg",
    ":/system_restore.svg",
    ":/radio_button.svg",
    ":/partition_normal.svg",
    ":/partition_exception.svg",
    ":/drive-harddisk-32px.svg",
    ":/fix_normal_16px.svg",
    ":/fix_hover_16px.svg",
    ":/fix_press_16px.svg",
};

// What the widget itself paints, on a transparent image: no window background behind it.
QImage paintedImage(QWidget* widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool near(const QColor& a, const QColor& b, int tolerance = 12)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

int countNear(const QImage& image, const QColor& color, int tolerance = 12)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 200 && near(c, color, tolerance)) {
                ++count;
            }
        }
    }
    return count;
}

QColor accent()
{
    return QApplication::palette().color(QPalette::Active, QPalette::Highlight);
}

} // namespace

class TestTesselWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void singleInstanceExcludesOtherProcesses();
    void singleInstanceTakesOverAbandonedLock();

    void styleByName_data();
    void styleByName();
    void applicationStyle();
    void buttonTypes_data();
    void buttonTypes();

    void fontLevelsShrink();
    void boundFontFollowsApplicationFamily();
    void paletteThemes_data();
    void paletteThemes();
    void labelColourFollowsTheme();

    void iconResources_data();
    void iconResources();
    void themeIconFallbacks_data();
    void themeIconFallbacks();

    void dialogExecResult_data();
    void dialogExecResult();
    void dialogButtonCanKeepItOpen();
    void dialogGeometry();

    void waterProgressClamps_data();
    void waterProgressClamps();
    void waterLevelFollowsValue_data();
    void waterLevelFollowsValue();
    void waterMovesOnlyWhileRunning();
    void waterPercentReadable_data();
    void waterPercentReadable();
    void spinnerTurnsOnlyWhilePlaying();

    void frameBackground_data();
    void frameBackground();
    void backgroundGroupPaintsItems();
    void buttonBoxIdsAndExclusivity();
    void listViewItemSize();
    void fileChooserDialog_data();
    void fileChooserDialog();

    void gallery();

private:
    int runChild(const QString& mode, const QString& key);

    QTemporaryDir m_runtimeDir;
};

void TestTesselWidgets::initTestCase()
{
    QVERIFY(m_runtimeDir.isValid());
    // Locks of this run live in a private runtime directory; the children inherit it.
    qputenv("XDG_RUNTIME_DIR", m_runtimeDir.path().toLocal8Bit());
    QVERIFY(TApplication::instance());
}

int TestTesselWidgets::runChild(const QString& mode, const QString& key)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {mode, key});
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return child.exitCode();
}

void TestTesselWidgets::singleInstanceExcludesOtherProcesses()
{
    TApplication* app = TApplication::instance();
    const QString key = "marlin-recovery-live";
    QVERIFY(app->setSingleInstance(key));
    QVERIFY(QFile::exists(TApplication::singleInstanceLockPath(key)));
    QVERIFY(app->setSingleInstance(key)); // holding it already

    QCOMPARE(runChild("--try-single-instance", key), childRefused);
    // A program that has run for an hour still holds its lock: age alone never makes it stale.
    QFile lockFile(TApplication::singleInstanceLockPath(key));
    QVERIFY(lockFile.open(QIODevice::ReadOnly));
    QVERIFY(lockFile.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    lockFile.close();
    QCOMPARE(runChild("--try-single-instance", key), childRefused);
    QCOMPARE(runChild("--try-single-instance", "another-program"), childAcquired);

    app->releaseSingleInstance();
    QCOMPARE(runChild("--try-single-instance", key), childAcquired);
    // The child has ended, and with it its lock.
    QVERIFY(app->setSingleInstance(key));
    app->releaseSingleInstance();
}

void TestTesselWidgets::singleInstanceTakesOverAbandonedLock()
{
    const QString key = "crashed/instance";
    QCOMPARE(runChild("--abandon-single-instance", key), childAcquired);
    // The child died holding the lock: the file is still there, naming a process that no longer runs.
    QVERIFY(QFile::exists(TApplication::singleInstanceLockPath(key)));
    QVERIFY(TApplication::instance()->setSingleInstance(key));
    TApplication::instance()->releaseSingleInstance();
}

void TestTesselWidgets::styleByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("created");
    QTest::addColumn<bool>("glaze");

    QTest::newRow("glaze") << "glaze" << true << true;
    QTest::newRow("Glaze") << "Glaze" << true << true;
    QTest::newRow("GLAZE") << "GLAZE" << true << true;
    QTest::newRow("fusion") << "Fusion" << true << false;
    QTest::newRow("unknown") << "no-such-style" << false << false;
}

void TestTesselWidgets::styleByName()
{
    QFETCH(QString, name);
    QFETCH(bool, created);
    QFETCH(bool, glaze);

    std::unique_ptr<QStyle> style(createStyle(name));
    QCOMPARE(style != nullptr, created);
    QCOMPARE(qobject_cast<GlazeStyle*>(style.get()) != nullptr, glaze);
    if (created) {
        QVERIFY(styleKeys().contains(glaze ? "Glaze" : name, Qt::CaseInsensitive));
    }
}

void TestTesselWidgets::applicationStyle()
{
    QVERIFY(qobject_cast<GlazeStyle*>(QApplication::style()));

    QStyle* before = QApplication::style();
    QCOMPARE(TApplication::setStyle("no-such-style"), nullptr);
    QCOMPARE(QApplication::style(), before);

    QStyle* glaze = TApplication::setStyle("glaze");
    QVERIFY(qobject_cast<GlazeStyle*>(glaze));
    QCOMPARE(QApplication::style(), glaze);
}

void TestTesselWidgets::buttonTypes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<bool>("redText");

    const TPalette light(ThemeType::Light);
    QTest::newRow("normal") << int(ButtonType::Normal) << true << light.color(QPalette::Button) << false;
    QTest::newRow("warning") << int(ButtonType::Warning) << true << light.color(QPalette::Button) << true;
    QTest::newRow("recommended") << int(ButtonType::Recommended) << true << light.color(QPalette::Highlight) << false;
    QTest::newRow("recommended, disabled")
        << int(ButtonType::Recommended) << false << light.color(QPalette::Disabled, QPalette::Highlight) << false;
}

void TestTesselWidgets::buttonTypes()
{
    QFETCH(int, type);
    QFETCH(bool, enabled);
    QFETCH(QColor, fill);
    QFETCH(bool, redText);

    QPushButton button("Restart");
    button.setFixedSize(160, 40);
    button.setEnabled(enabled);
    setButtonType(&button, ButtonType(type));
    QCOMPARE(buttonType(&button), ButtonType(type));

    const QImage image = paintedImage(&button);
    QVERIFY(near(image.pixelColor(12, 20), fill, 4));
    // Corners are rounded: the very corner stays (almost) unpainted.
    QVERIFY(image.pixelColor(0, 0).alpha() < 128);
    const QColor red = TPalette(ThemeType::Light).color(TPalette::TextWarning);
    QCOMPARE(countNear(image, red, 40) > 10, redText);
}

void TestTesselWidgets::fontLevelsShrink()
{
    for (int level = TFontSizeManager::T1; level < TFontSizeManager::T8; ++level) {
        const auto larger = TFontSizeManager::SizeType(level);
        const auto smaller = TFontSizeManager::SizeType(level + 1);
        QVERIFY2(TFontSizeManager::fontPixelSize(larger) > TFontSizeManager::fontPixelSize(smaller),
                 qPrintable(QString("T%1 is not larger than T%2").arg(level + 1).arg(level + 2)));
        QVERIFY(TFontSizeManager::fontWeight(larger) >= TFontSizeManager::fontWeight(smaller));
    }
    QCOMPARE(QApplication::font().pixelSize(), TFontSizeManager::fontPixelSize(TFontSizeManager::T6));

    TLabel label;
    label.setFontSizeLevel(TFontSizeManager::T2);
    QCOMPARE(label.font().pixelSize(), TFontSizeManager::fontPixelSize(TFontSizeManager::T2));
    QCOMPARE(label.font().weight(), TFontSizeManager::fontWeight(TFontSizeManager::T2));
    TFontSizeManager::instance()->bind(&label, TFontSizeManager::T7, QFont::Bold);
    QCOMPARE(label.font().pixelSize(), TFontSizeManager::fontPixelSize(TFontSizeManager::T7));
    QCOMPARE(label.font().weight(), QFont::Bold);
}

void TestTesselWidgets::boundFontFollowsApplicationFamily()
{
    QWidget page;
    TLabel title(&page);
    title.setFontSizeLevel(TFontSizeManager::T1);

    const QFont original = QApplication::font();
    QFont serif = original;
    serif.setFamily("DejaVu Serif");
    QApplication::setFont(serif);
    // The change reaches widgets through posted events.
    QTRY_COMPARE(title.font().family(), QString("DejaVu Serif"));
    QCOMPARE(title.font().pixelSize(), TFontSizeManager::fontPixelSize(TFontSizeManager::T1));
    QApplication::setFont(original);
    QTRY_COMPARE(title.font().family(), original.family());
}

void TestTesselWidgets::paletteThemes_data()
{
    QTest::addColumn<ThemeType>("theme");
    QTest::newRow("light") << ThemeType::Light;
    QTest::newRow("dark") << ThemeType::Dark;
}

void TestTesselWidgets::paletteThemes()
{
    QFETCH(ThemeType, theme);
    const TPalette palette(theme);
    QCOMPARE(palette.themeType(), theme);
    QCOMPARE(TPalette::themeTypeOf(palette), theme);

    // Text must stand out from everything it is drawn on.
    const int text = palette.color(QPalette::WindowText).lightness();
    for (QColor background :
         {palette.color(QPalette::Window), palette.color(QPalette::Base), palette.color(TPalette::ItemBackground)}) {
        QVERIFY2(qAbs(background.lightness() - text) > 150, qPrintable(background.name()));
    }
    for (int type = TPalette::NoType + 1; type < TPalette::NColorTypes; ++type) {
        const QColor active = palette.color(TPalette::ColorType(type));
        QVERIFY(active.isValid());
        QVERIFY(palette.color(QPalette::Disabled, TPalette::ColorType(type)).alpha() < active.alpha());
    }
    QVERIFY(!palette.color(TPalette::NoType).isValid());

    QWidget widget;
    widget.setPalette(palette);
    QCOMPARE(TPalette::of(&widget).themeType(), theme);
}

void TestTesselWidgets::labelColourFollowsTheme()
{
    TApplication* app = TApplication::instance();
    QSignalSpy themeChanged(app, &TApplication::themeTypeChanged);
    TTipLabel tip("Backup directory is empty");
    TLabel error("Invalid path");
    error.setForegroundColorType(TPalette::TextWarning);

    QCOMPARE(tip.palette().color(QPalette::WindowText), TPalette(ThemeType::Light).color(TPalette::TextTips));
    app->setThemeType(ThemeType::Dark);
    // The new palette reaches widgets through posted events.
    QTRY_COMPARE(tip.palette().color(QPalette::Window), TPalette(ThemeType::Dark).color(QPalette::Window));
    const QColor darkTip = tip.palette().color(QPalette::WindowText);
    QTRY_COMPARE(error.palette().color(QPalette::Window), TPalette(ThemeType::Dark).color(QPalette::Window));
    const QColor darkError = error.palette().color(QPalette::WindowText);
    app->setThemeType(ThemeType::Light);
    QTRY_COMPARE(error.palette().color(QPalette::Window), TPalette(ThemeType::Light).color(QPalette::Window));

    QCOMPARE(themeChanged.count(), 2);
    QCOMPARE(themeChanged.first().first().value<ThemeType>(), ThemeType::Dark);
    QCOMPARE(darkTip, TPalette(ThemeType::Dark).color(TPalette::TextTips));
    QCOMPARE(darkError, TPalette(ThemeType::Dark).color(TPalette::TextWarning));
    QCOMPARE(error.palette().color(QPalette::WindowText), TPalette(ThemeType::Light).color(TPalette::TextWarning));

    error.setForegroundColorType(TPalette::NoType);
    QCOMPARE(error.palette().color(QPalette::WindowText), QApplication::palette().color(QPalette::WindowText));
}

void TestTesselWidgets::iconResources_data()
{
    QTest::addColumn<QString>("path");
    for (const QString& path : iconPaths) {
        QTest::newRow(qPrintable(path)) << path;
    }
    QTest::newRow("toolkit: folder") << ":/tessel/icons/folder.svg";
    QTest::newRow("toolkit: window-close") << ":/tessel/icons/window-close.svg";
}

void TestTesselWidgets::iconResources()
{
    QFETCH(QString, path);
    // Nothing in this program initialises the resources by hand: linking the library has to be enough.
    QVERIFY(QFile::exists(path));
    QSvgRenderer renderer(path);
    QVERIFY(renderer.isValid());
    QVERIFY(!renderer.viewBoxF().isEmpty());

    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    int painted = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            painted += qAlpha(image.pixel(x, y)) > 128;
        }
    }
    QVERIFY2(painted > 30, qPrintable(QString::number(painted)));

    // Widgets load the same paths through QIcon, which needs Qt's SVG icon engine.
    QVERIFY(!QIcon(path).pixmap(QSize(32, 32)).isNull());
}

void TestTesselWidgets::themeIconFallbacks_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("dialog-warning") << "dialog-warning";
    QTest::newRow("ivy-recovery") << "ivy-recovery";
}

void TestTesselWidgets::themeIconFallbacks()
{
    QFETCH(QString, name);
    const QIcon icon = QIcon::fromTheme(name);
    QVERIFY(!icon.isNull());
    QVERIFY(!icon.pixmap(QSize(48, 48)).isNull());
}

enum class DialogAction
{
    ClickFirst,
    ClickLast,
    Return,
    Escape,
    CloseButton,
    Close
};
Q_DECLARE_METATYPE(DialogAction)

void TestTesselWidgets::dialogExecResult_data()
{
    QTest::addColumn<DialogAction>("action");
    QTest::addColumn<int>("expected");

    QTest::newRow("first button") << DialogAction::ClickFirst << 0;
    QTest::newRow("last button") << DialogAction::ClickLast << 2;
    QTest::newRow("Return presses the default button") << DialogAction::Return << 1;
    QTest::newRow("Escape") << DialogAction::Escape << -1;
    QTest::newRow("close button") << DialogAction::CloseButton << -1;
    QTest::newRow("close()") << DialogAction::Close << -1;
}

void TestTesselWidgets::dialogExecResult()
{
    QFETCH(DialogAction, action);
    QFETCH(int, expected);

    QWidget page;
    page.resize(600, 400);
    TDialog dialog(&page);
    dialog.setMessage("Are you sure you want to exit and reboot your computer?");
    dialog.setIcon(":/warning.svg");
    QCOMPARE(dialog.addButton("Cancel"), 0);
    QCOMPARE(dialog.addButton("Restart", true, TDialog::ButtonWarning), 1);
    QCOMPARE(dialog.addButton("Later"), 2);
    QSignalSpy clicked(&dialog, &TDialog::buttonClicked);

    QTimer::singleShot(0, &dialog, [&] {
        switch (action) {
        case DialogAction::ClickFirst:
            QTest::mouseClick(dialog.getButton(0), Qt::LeftButton);
            break;
        case DialogAction::ClickLast:
            QTest::mouseClick(dialog.getButton(2), Qt::LeftButton);
            break;
        case DialogAction::Return:
            QTest::keyClick(&dialog, Qt::Key_Return);
            break;
        case DialogAction::Escape:
            QTest::keyClick(&dialog, Qt::Key_Escape);
            break;
        case DialogAction::CloseButton: {
            auto* close = dialog.findChild<TIconButton*>();
            QVERIFY(close && close->isVisible());
            QTest::mouseClick(close, Qt::LeftButton);
            break;
        }
        case DialogAction::Close:
            dialog.close();
            break;
        }
    });
    // Never hang the run if the action above failed to end the dialog.
    QTimer::singleShot(10000, &dialog, [&] { dialog.done(-100); });

    QCOMPARE(dialog.exec(), expected);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(clicked.count(), expected >= 0 ? 1 : 0);
    if (expected >= 0) {
        QCOMPARE(clicked.first().at(0).toInt(), expected);
        QCOMPARE(clicked.first().at(1).toString(), dialog.getButton(expected)->text());
    }
}

void TestTesselWidgets::dialogButtonCanKeepItOpen()
{
    TDialog dialog("Repair", "Repair the file system of /dev/sda2?");
    dialog.addButtons({"Cancel", "Repair now"});
    dialog.setOnButtonClickedClose(false);
    QSignalSpy clicked(&dialog, &TDialog::buttonClicked);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTest::mouseClick(dialog.getButton(1), Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.getButton(2), nullptr);
    QCOMPARE(dialog.getButton(-1), nullptr);

    dialog.clearButtons();
    QCOMPARE(dialog.buttonCount(), 0);
    QCOMPARE(dialog.addButton("OK"), 0);
    dialog.reject();
    QCOMPARE(dialog.result(), -1);
}

void TestTesselWidgets::dialogGeometry()
{
    QWidget page;
    page.setGeometry(100, 80, 860, 640);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));

    TDialog shortDialog(&page);
    shortDialog.setMessage("Restart now?");
    shortDialog.addButtons({"Cancel", "Restart"});
    shortDialog.moveToCenter();

    TDialog longDialog(&page);
    longDialog.setTitle("Keep Personal Files");
    longDialog.setMessage(QString("It will reset data on your system disk but keep your personal data. ").repeated(4));
    longDialog.addButtons({"Cancel", "Confirm and Reset"});
    longDialog.moveToCenter();

    for (TDialog* dialog : {&shortDialog, &longDialog}) {
        QVERIFY(dialog->width() >= 380 && dialog->width() <= 520);
        const QPoint centre = dialog->geometry().center();
        const QPoint pageCentre = QRect(page.mapToGlobal(QPoint(0, 0)), page.size()).center();
        QVERIFY2((centre - pageCentre).manhattanLength() <= 2,
                 qPrintable(QString("%1,%2").arg(centre.x()).arg(centre.y())));
    }
    QVERIFY(longDialog.height() > shortDialog.height() + 40);

    TDialog fixed(&page);
    fixed.setMessage("It will permanently clear data of all users on this device, please confirm before proceeding");
    fixed.addButtons({"Cancel", "Confirm and Reset"});
    fixed.setFixedSize(450, 240);
    fixed.moveToCenter();
    fixed.show();
    QCOMPARE(fixed.size(), QSize(450, 240));
}

void TestTesselWidgets::waterProgressClamps_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("signalCount");

    QTest::newRow("inside") << 42 << 42 << 1;
    QTest::newRow("full") << 100 << 100 << 1;
    QTest::newRow("above") << 250 << 100 << 1;
    QTest::newRow("below") << -7 << 0 << 1;
    QTest::newRow("unchanged") << 1 << 1 << 0;
}

void TestTesselWidgets::waterProgressClamps()
{
    QFETCH(int, input);
    QFETCH(int, value);
    QFETCH(int, signalCount);

    TWaterProgress progress;
    progress.setValue(1);
    QSignalSpy changed(&progress, &TWaterProgress::valueChanged);
    progress.setValue(input);
    QCOMPARE(progress.value(), value);
    QCOMPARE(changed.count(), signalCount);
    if (signalCount) {
        QCOMPARE(changed.first().first().toInt(), value);
    }
}

void TestTesselWidgets::waterLevelFollowsValue_data()
{
    QTest::addColumn<int>("value");
    QTest::newRow("10%") << 10;
    QTest::newRow("50%") << 50;
    QTest::newRow("85%") << 85;
}

void TestTesselWidgets::waterLevelFollowsValue()
{
    QFETCH(int, value);

    TWaterProgress progress;
    progress.setTextVisible(false);
    progress.resize(100, 100);
    progress.setValue(value);
    const QImage image = paintedImage(&progress);

    // The vessel spans roughly y = 6..94; water fills it from the bottom up to value percent.
    const int level = int(94 - 88 * value / 100.0);
    QVERIFY2(!near(image.pixelColor(50, level - 8), accent(), 20), "water above the level");
    QVERIFY2(near(image.pixelColor(50, level + 8), accent(), 20), "no water below the level");

    const int water = countNear(image, accent(), 20);
    progress.setValue(value + 10);
    QVERIFY(countNear(paintedImage(&progress), accent(), 20) > water);
    progress.setValue(0);
    QCOMPARE(countNear(paintedImage(&progress), accent(), 20), 0);
}

void TestTesselWidgets::waterMovesOnlyWhileRunning()
{
    TWaterProgress progress;
    progress.resize(96, 96);
    progress.setValue(50);
    progress.show();
    QVERIFY(QTest::qWaitForWindowExposed(&progress));

    const QImage still = paintedImage(&progress);
    progress.start();
    QVERIFY(progress.isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(paintedImage(&progress) != still, 5000);

    progress.stop();
    QVERIFY(!progress.isRunning());
    const QImage stopped = paintedImage(&progress);
    QTimer window;
    window.setSingleShot(true);
    QSignalSpy elapsed(&window, &QTimer::timeout);
    window.start(200);
    QVERIFY(elapsed.wait(5000));
    QCOMPARE(paintedImage(&progress), stopped);
}

void TestTesselWidgets::waterPercentReadable_data()
{
    QTest::addColumn<int>("value");

    for (int value : {0, 45, 50, 55, 100}) {
        QTest::newRow(qPrintable(QString::number(value))) << value;
    }
}

// Wherever the water stands, the percentage sits on the same background, in a colour that reads well on it.
void TestTesselWidgets::waterPercentReadable()
{
    QFETCH(int, value);

    TWaterProgress progress;
    progress.resize(120, 120);
    progress.setValue(value);
    const QImage image = paintedImage(&progress);
    const QRectF badge = progress.badgeRect();
    QVERIFY(badge.width() > 20 && badge.height() > 10);
    // Above the digits, inside the badge.
    const QPoint behind(int(badge.center().x()), int(badge.top() + badge.height() * 0.12));
    const QColor base = progress.palette().color(QPalette::Base);
    QVERIFY2(near(image.pixelColor(behind), base, 6), qPrintable(image.pixelColor(behind).name()));
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    double darkest = 1;
    for (int y = int(badge.top()); y < int(badge.bottom()); ++y) {
        for (int x = int(badge.left()); x < int(badge.right()); ++x) {
            darkest = std::min(darkest, luminance(image.pixelColor(x, y)));
        }
    }
    // The contrast asked of body text.
    QVERIFY((luminance(base) + 0.05) / (darkest + 0.05) >= 4.5);
}

void TestTesselWidgets::spinnerTurnsOnlyWhilePlaying()
{
    QWidget page;
    page.resize(100, 100);
    auto* spinner = new TSpinner(&page);
    spinner->setGeometry(10, 10, 32, 32);
    spinner->hide();
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));

    const QImage first = paintedImage(spinner);
    // Started while hidden, as a busy page does before showing it: it must turn once shown.
    spinner->start();
    QVERIFY(spinner->isPlaying());
    spinner->show();
    QTRY_VERIFY_WITH_TIMEOUT(paintedImage(spinner) != first, 5000);

    spinner->stop();
    QVERIFY(!spinner->isPlaying());
    const QImage stopped = paintedImage(spinner);
    QTimer window;
    window.setSingleShot(true);
    QSignalSpy elapsed(&window, &QTimer::timeout);
    window.start(200);
    QVERIFY(elapsed.wait(5000));
    QCOMPARE(paintedImage(spinner), stopped);
}

void TestTesselWidgets::frameBackground_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("lineWidth");
    QTest::addColumn<QColor>("centre");

    const TPalette light(ThemeType::Light);
    QTest::newRow("window") << int(TPalette::NoType) << 0 << light.color(QPalette::Window);
    QTest::newRow("item background") << int(TPalette::ItemBackground) << 0 << light.color(TPalette::ItemBackground);
    QTest::newRow("emphasised, bordered")
        << int(TPalette::ItemBackgroundHover) << 2 << light.color(TPalette::ItemBackgroundHover);
}

void TestTesselWidgets::frameBackground()
{
    QFETCH(int, type);
    QFETCH(int, lineWidth);
    QFETCH(QColor, centre);

    TFrame frame;
    frame.resize(200, 120);
    frame.setBackgroundColorType(TPalette::ColorType(type));
    frame.setLineWidth(lineWidth);
    QCOMPARE(frame.contentsRect(), frame.rect().adjusted(lineWidth, lineWidth, -lineWidth, -lineWidth));

    const QImage image = paintedImage(&frame);
    QVERIFY(near(image.pixelColor(100, 60), centre, 2));
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0); // rounded corner
    const QColor edge = image.pixelColor(100, 0);
    QVERIFY(near(edge, lineWidth > 0 ? TPalette(ThemeType::Light).color(TPalette::FrameBorder) : centre, 2));

    frame.setRadius(0);
    QCOMPARE(paintedImage(&frame).pixelColor(0, 0).alpha(), 255);
}

void TestTesselWidgets::backgroundGroupPaintsItems()
{
    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    TBackgroundGroup group(layout);
    QList<QWidget*> items;
    for (int i = 0; i < 4; ++i) {
        auto* item = new QWidget;
        item->setFixedHeight(40);
        layout->addWidget(item);
        items.append(item);
    }
    items.at(3)->hide();
    group.setItemSpacing(2);
    group.resize(200, group.sizeHint().height());
    group.show();
    QVERIFY(QTest::qWaitForWindowExposed(&group));

    const QColor itemColour = TPalette(ThemeType::Light).color(TPalette::ItemBackground);
    const QImage image = paintedImage(&group);
    for (int i = 0; i < 3; ++i) {
        const QRect r = items.at(i)->geometry();
        QVERIFY(near(image.pixelColor(r.center()), itemColour, 2));
        // Only the outer corners of the first and last visible item are rounded.
        const bool roundTop = i == 0;
        const bool roundBottom = i == 2;
        QCOMPARE(image.pixelColor(r.topLeft()).alpha() == 255, !roundTop);
        QCOMPARE(image.pixelColor(r.bottomRight()).alpha() == 255, !roundBottom);
        if (i < 2) {
            QCOMPARE(image.pixelColor(100, r.bottom() + 1).alpha(), 0); // the gap between items
        }
    }
    QCOMPARE(group.itemSpacing(), 2);

    group.setUseWidgetBackground(true);
    QCOMPARE(countNear(paintedImage(&group), itemColour, 2), 0);
}

void TestTesselWidgets::buttonBoxIdsAndExclusivity()
{
    TButtonBox box;
    auto* first = new TButtonBoxButton("Restore");
    auto* second = new TButtonBoxButton("Backup");
    auto* third = new TButtonBoxButton("Repair");
    box.setButtonList({first, second, third}, true);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QSignalSpy clicked(&box, &TButtonBox::buttonClicked);

    QCOMPARE(box.id(third), 2);
    QCOMPARE(box.button(1), second);
    QCOMPARE(box.checkedId(), -1);

    QTest::mouseClick(third, Qt::LeftButton);
    QTest::mouseClick(first, Qt::LeftButton);
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(clicked.at(0).at(0).value<QAbstractButton*>(), third);
    QCOMPARE(box.checkedButton(), first);
    QVERIFY(!third->isChecked());

    QPointer<QAbstractButton> old = second;
    TButtonBoxButton foreign("Other");
    QCOMPARE(box.id(&foreign), -1);
    box.setButtonList({first}, false);
    QCOMPARE(box.buttonList().size(), 1);
    QCOMPARE(box.id(first), 0);
    QCOMPARE(box.button(1), nullptr);
    QTRY_VERIFY(old.isNull());
}

void TestTesselWidgets::listViewItemSize()
{
    TListView view;
    view.resize(760, 400);
    view.setViewMode(QListView::IconMode);
    view.setResizeMode(QListView::Adjust);
    view.setSpacing(40);
    auto* model = new QStandardItemModel(&view);
    model->appendRow(new QStandardItem(QIcon(":/marlin-repair.svg"), "System Repair Tools"));
    model->appendRow(new QStandardItem(QIcon(":/system_restore.svg"), "System Restore"));
    view.setModel(model);
    view.setItemSize(QSize(240, 240));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QTRY_COMPARE(view.visualRect(model->index(0, 0)).size(), QSize(240, 240));
    const QRect a = view.visualRect(model->index(0, 0));
    const QRect b = view.visualRect(model->index(1, 0));
    QCOMPARE(a.top(), b.top()); // side by side
    QVERIFY(b.left() >= a.right() + 40);

    // Changing the size of a list already on screen lays it out again.
    view.setItemSize(QSize(120, 120));
    QTRY_COMPARE(view.visualRect(model->index(1, 0)).size(), QSize(120, 120));

    view.setViewportMargins(0, 0, 0, 0);
    QCOMPARE(view.viewport()->geometry(), view.rect());

    // A plain item sits on the item background; one shown by an index widget gets nothing painted behind it.
    view.setIndexWidget(model->index(1, 0), new QWidget);
    const QRect plain = view.visualRect(model->index(0, 0));
    const QRect covered = view.visualRect(model->index(1, 0));
    const QImage image = paintedImage(view.viewport());
    const QColor itemColour = TPalette(ThemeType::Light).color(TPalette::ItemBackground);
    QVERIFY(near(image.pixelColor(plain.left() + 3, plain.center().y()), itemColour, 2));
    QCOMPARE(image.pixelColor(covered.left() + 3, covered.center().y()).alpha(), 0);
}

void TestTesselWidgets::fileChooserDialog_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("accepted") << true;
    QTest::newRow("cancelled") << false;
}

void TestTesselWidgets::fileChooserDialog()
{
    QFETCH(bool, accept);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("backup"));
    const QString chosen = QDir(dir.path()).filePath("backup");

    TFileChooserEdit chooser;
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setDirectory(dir.path());
    chooser.setText("/previous/path");
    chooser.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chooser));
    QSignalSpy opened(&chooser, &TFileChooserEdit::dialogOpened);
    QSignalSpy closed(&chooser, &TFileChooserEdit::dialogClosed);
    QSignalSpy picked(&chooser, &TFileChooserEdit::fileChosen);
    QSignalSpy textChanged(&chooser, &TFileChooserEdit::textChanged);

    auto* browse = chooser.findChild<QAbstractButton*>("browseButton");
    QVERIFY(browse);
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(opened.count(), 1);
    QFileDialog* dialog = chooser.fileDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
    QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
    QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());

    if (accept) {
        dialog->setDirectory(chosen);
        static_cast<QDialog*>(dialog)->accept();
    } else {
        dialog->reject();
    }
    QTRY_COMPARE(closed.count(), 1);
    QCOMPARE(closed.first().first().toInt(), accept ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(picked.count(), accept ? 1 : 0);
    if (accept) {
        QCOMPARE(QDir(picked.first().first().toString()).canonicalPath(), QDir(chosen).canonicalPath());
        QCOMPARE(chooser.text(), picked.first().first().toString());
        QCOMPARE(textChanged.count(), 1);
    } else {
        QCOMPARE(chooser.text(), QString("/previous/path"));
        QCOMPARE(textChanged.count(), 0);
    }
    QTRY_VERIFY(!chooser.fileDialog());
}

namespace {

TLabel* caption(const QString& text)
{
    auto* label = new TLabel(text);
    TFontSizeManager::instance()->bind(label, TFontSizeManager::T7, QFont::DemiBold);
    label->setForegroundColorType(TPalette::TextTips);
    return label;
}

QLabel* iconLabel(const QString& path, int side)
{
    auto* label = new QLabel;
    label->setPixmap(QIcon(path).pixmap(QSize(side, side)));
    label->setFixedSize(side, side);
    return label;
}

QPushButton* button(const QString& text, ButtonType type, QSize size = QSize(), bool enabled = true)
{
    auto* b = new QPushButton(text);
    setButtonType(b, type);
    b->setEnabled(enabled);
    if (size.isValid()) {
        b->setFixedSize(size);
    }
    return b;
}

TFrame* panel(QVBoxLayout*& layout, int width)
{
    auto* frame = new TFrame;
    frame->setBackgroundColorType(TPalette::NoType);
    frame->setFixedWidth(width);
    layout = new QVBoxLayout(frame);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(12);
    return frame;
}

// A tile as the home page builds it: icon, title and the radio mark of the chosen one.
TFrame* tile(const QString& icon, const QString& title, bool checked, bool hovered)
{
    auto* frame = new TFrame;
    frame->setBackgroundColorType(hovered ? TPalette::ItemBackgroundHover : TPalette::ItemBackground);
    frame->setRadius(GlazeStyle::PanelRadius);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(12, 12, 12, 16);
    layout->setSpacing(0);
    auto* top = new QHBoxLayout;
    top->addStretch();
    auto* check = new QLabel;
    check->setFixedSize(20, 20);
    if (checked) {
        check->setPixmap(QIcon(":/radio_button.svg").pixmap(QSize(20, 20)));
    }
    top->addWidget(check);
    layout->addLayout(top);
    layout->addWidget(iconLabel(icon, 96), 0, Qt::AlignHCenter);
    layout->addSpacing(12);
    auto* label = new TLabel(title);
    label->setFontSizeLevel(TFontSizeManager::T4);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setWordWrap(true);
    layout->addWidget(label);
    layout->addStretch();
    return frame;
}

QWidget* restorePanel()
{
    QVBoxLayout* layout = nullptr;
    TFrame* frame = panel(layout, 440);
    auto* title = new TLabel("Restore");
    title->setFontSizeLevel(TFontSizeManager::T1);
    layout->addWidget(title);
    layout->addSpacing(4);

    auto* rows = new QVBoxLayout;
    rows->setContentsMargins(0, 0, 0, 0);
    auto* group = new TBackgroundGroup(rows);
    auto* factory = new QWidget;
    auto* factoryLayout = new QVBoxLayout(factory);
    factoryLayout->setContentsMargins(14, 12, 14, 12);
    auto* factoryRadio = new QRadioButton("Reset to factory settings");
    factoryRadio->setChecked(true);
    factoryLayout->addWidget(factoryRadio);
    auto* keep = new QCheckBox("Keep personal files and apps");
    keep->setChecked(true);
    auto* keepRow = new QHBoxLayout;
    keepRow->setContentsMargins(26, 0, 0, 0);
    keepRow->addWidget(keep);
    factoryLayout->addLayout(keepRow);
    rows->addWidget(factory);

    auto* files = new QWidget;
    auto* filesLayout = new QVBoxLayout(files);
    filesLayout->setContentsMargins(14, 12, 14, 12);
    filesLayout->addWidget(new QRadioButton("Restore from backup files"));
    auto* chooserRow = new QHBoxLayout;
    chooserRow->setContentsMargins(26, 0, 0, 0);
    chooserRow->setSpacing(8);
    auto* chooser = new TFileChooserEdit;
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setPlaceholderText("Backup directory");
    chooser->setEnabled(false);
    chooserRow->addWidget(chooser);
    filesLayout->addLayout(chooserRow);
    rows->addWidget(files);

    auto* point = new QWidget;
    auto* pointLayout = new QVBoxLayout(point);
    pointLayout->setContentsMargins(14, 12, 14, 12);
    pointLayout->addWidget(new QRadioButton("Restore from a restore point"));
    rows->addWidget(point);
    layout->addWidget(group);

    auto* tip = new TTipLabel("Choosing \"Keep personal files and apps\" resets the system disk only.");
    tip->setWordWrap(true);
    layout->addWidget(tip);
    layout->addStretch();
    layout->addWidget(button("Restore Now", ButtonType::Recommended, QSize(240, 36)), 0, Qt::AlignHCenter);
    return frame;
}

QWidget* homePanel()
{
    QVBoxLayout* layout = nullptr;
    TFrame* frame = panel(layout, 520);
    auto* top = new QHBoxLayout;
    auto* back = new TIconButton(QIcon(":/return.svg"));
    back->setFlat(true);
    back->setIconSize(QSize(50, 50));
    back->setFixedSize(50, 50);
    auto* close = new TIconButton(QIcon(":/close.svg"));
    close->setFlat(true);
    close->setIconSize(QSize(50, 50));
    close->setFixedSize(50, 50);
    top->addWidget(back);
    top->addStretch();
    top->addWidget(close);
    layout->addLayout(top);

    auto* list = new TListView;
    list->setViewMode(QListView::IconMode);
    list->setResizeMode(QListView::Adjust);
    list->setFlow(QListView::LeftToRight);
    list->setSpacing(16);
    list->setItemSize(QSize(200, 200));
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    list->setFixedSize(472, 240);
    list->setViewportMargins(0, 0, 0, 0);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* model = new QStandardItemModel(list);
    model->appendRow(new QStandardItem);
    model->appendRow(new QStandardItem);
    list->setModel(model);
    list->setIndexWidget(model->index(0, 0), tile(":/marlin-repair.svg", "System Repair Tools", false, true));
    list->setIndexWidget(model->index(1, 0), tile(":/system_restore.svg", "System Restore", true, false));
    layout->addWidget(list, 0, Qt::AlignHCenter);

    auto* busy = new QHBoxLayout;
    busy->addStretch();
    auto* spinner = new TSpinner;
    spinner->setFixedSize(32, 32);
    busy->addWidget(spinner);
    busy->addStretch();
    layout->addLayout(busy);
    auto* error = new TLabel("DBus error, please try again");
    error->setForegroundColorType(TPalette::TextWarning);
    error->setAlignment(Qt::AlignCenter);
    layout->addWidget(error);
    layout->addStretch();
    layout->addWidget(button("Next", ButtonType::Recommended, QSize(200, 36)), 0, Qt::AlignHCenter);
    return frame;
}

QWidget* controlsPanel()
{
    QVBoxLayout* layout = nullptr;
    TFrame* frame = panel(layout, 300);
    layout->addWidget(caption("BUTTONS"));
    auto* buttons = new QGridLayout;
    buttons->setSpacing(10);
    buttons->addWidget(button("Cancel", ButtonType::Normal), 0, 0);
    buttons->addWidget(button("Restart", ButtonType::Warning), 0, 1);
    buttons->addWidget(button("Confirm", ButtonType::Recommended), 1, 0);
    buttons->addWidget(button("Next", ButtonType::Recommended, QSize(), false), 1, 1);
    layout->addLayout(buttons);

    layout->addWidget(caption("INPUTS"));
    auto* edit = new QLineEdit;
    edit->setPlaceholderText("Search backups");
    layout->addWidget(edit);
    auto* chooser = new TFileChooserEdit;
    chooser->setText("/media/marlin/backup");
    layout->addWidget(chooser);
    auto* checks = new QGridLayout;
    auto* checked = new QCheckBox("Checked");
    checked->setChecked(true);
    checks->addWidget(checked, 0, 0);
    checks->addWidget(new QCheckBox("Unchecked"), 0, 1);
    auto* radio = new QRadioButton("Chosen");
    radio->setChecked(true);
    checks->addWidget(radio, 1, 0);
    auto* off = new QCheckBox("Disabled");
    off->setEnabled(false);
    checks->addWidget(off, 1, 1);
    layout->addLayout(checks);

    layout->addWidget(caption("SWITCHER"));
    auto* box = new TButtonBox;
    box->setButtonList(
        {new TButtonBoxButton("Restore"), new TButtonBoxButton("Backup"), new TButtonBoxButton("Repair")}, true);
    box->button(0)->setChecked(true);
    layout->addWidget(box, 0, Qt::AlignLeft);

    layout->addWidget(caption("BUSY AND ICON BUTTONS"));
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    auto* spinner = new TSpinner;
    spinner->setFixedSize(26, 26);
    row->addWidget(spinner);
    auto* small = new TWaterProgress;
    small->setFixedSize(48, 48);
    small->setTextVisible(false);
    small->setValue(50);
    row->addWidget(small);
    auto* fix = new TIconButton(QIcon(":/fix_normal_16px.svg"));
    fix->setIconSize(QSize(16, 16));
    fix->setFlat(true);
    row->addWidget(fix);
    auto* raised = new TIconButton(QIcon(":/tessel/icons/folder.svg"));
    raised->setIconSize(QSize(20, 20));
    row->addWidget(raised);
    row->addStretch();
    layout->addLayout(row);
    layout->addStretch();
    return frame;
}

QWidget* workingPanel()
{
    QVBoxLayout* layout = nullptr;
    TFrame* frame = panel(layout, 440);
    layout->addStretch();
    auto* progress = new TWaterProgress;
    progress->setValue(42);
    layout->addWidget(progress, 0, Qt::AlignHCenter);
    auto* title = new TLabel("Restoring your system, please wait...");
    title->setFontSizeLevel(TFontSizeManager::T2);
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
    layout->addWidget(title);
    auto* tip = new TLabel("Do not remove your storage device, power off or unplug your machine");
    tip->setFontSizeLevel(TFontSizeManager::T4);
    tip->setForegroundColorType(TPalette::TextTips);
    tip->setAlignment(Qt::AlignCenter);
    tip->setWordWrap(true);
    layout->addWidget(tip);
    layout->addStretch();
    return frame;
}

QWidget* endPanel(bool success)
{
    QVBoxLayout* layout = nullptr;
    TFrame* frame = panel(layout, success ? 520 : 300);
    layout->addStretch();
    layout->addWidget(iconLabel(success ? ":/success.svg" : ":/failed.svg", success ? 128 : 96), 0, Qt::AlignHCenter);
    auto* title = new TLabel(success ? "Restore Successful" : "Restore Failed");
    title->setFontSizeLevel(TFontSizeManager::T2);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    auto* message = new TLabel(success ? "Your system is back as it was. Reboot to start using it."
                                       : "Restore failed, error: There is something wrong with your backup file");
    message->setFontSizeLevel(TFontSizeManager::T4);
    message->setWordWrap(true);
    message->setAlignment(Qt::AlignCenter);
    layout->addWidget(message);
    layout->addStretch();
    layout->addWidget(button(success ? "Reboot Now" : "Shut Down", ButtonType::Recommended, QSize(220, 40)), 0,
                      Qt::AlignHCenter);
    return frame;
}

QWidget* typePanel()
{
    QVBoxLayout* layout = nullptr;
    TFrame* frame = panel(layout, 440);
    layout->setSpacing(6);
    layout->addWidget(caption("TYPE SCALE"));
    const QStringList samples = {"Restore",
                                 "Restore Successful",
                                 "Section heading",
                                 "System Restore",
                                 "Keep Personal Files",
                                 "Body text of the recovery suite",
                                 "Do not power off or unplug your machine",
                                 "Fine print"};
    for (int level = TFontSizeManager::T1; level < TFontSizeManager::NSizeTypes; ++level) {
        const auto type = TFontSizeManager::SizeType(level);
        auto* row = new QHBoxLayout;
        auto* name = new TLabel(QString("T%1 · %2px").arg(level + 1).arg(TFontSizeManager::fontPixelSize(type)));
        name->setFontSizeLevel(TFontSizeManager::T8);
        name->setForegroundColorType(TPalette::TextTips);
        name->setFixedWidth(72);
        row->addWidget(name);
        auto* sample = new TLabel(samples.at(level));
        sample->setFontSizeLevel(type);
        row->addWidget(sample, 1);
        layout->addLayout(row);
    }
    layout->addStretch();
    return frame;
}

QWidget* iconsPanel()
{
    QVBoxLayout* layout = nullptr;
    TFrame* frame = panel(layout, 840);
    layout->addWidget(caption("ICONS"));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(14);
    for (int i = 0; i < iconPaths.size(); ++i) {
        auto* cell = new QVBoxLayout;
        cell->setSpacing(6);
        const QString& path = iconPaths.at(i);
        const int side = path.contains("16px") ? 32 : 48;
        auto* holder = new QWidget;
        holder->setFixedSize(56, 56);
        auto* icon = iconLabel(path, side);
        icon->setParent(holder);
        icon->move((56 - side) / 2, (56 - side) / 2);
        cell->addWidget(holder, 0, Qt::AlignHCenter);
        auto* name = new TLabel(QString(path).remove(":/").remove(".svg"));
        name->setFontSizeLevel(TFontSizeManager::T8);
        name->setForegroundColorType(TPalette::TextTips);
        name->setAlignment(Qt::AlignHCenter);
        name->setWordWrap(true);
        name->setFixedWidth(108);
        cell->addWidget(name, 0, Qt::AlignHCenter);
        cell->addStretch();
        grid->addLayout(cell, i / 7, i % 7);
    }
    layout->addLayout(grid);
    layout->addStretch();
    return frame;
}

QWidget* buildGallery()
{
    auto* gallery = new QWidget;
    gallery->setAutoFillBackground(true);
    QPalette desk = gallery->palette();
    const bool light = TPalette::themeTypeOf(desk) == ThemeType::Light;
    desk.setColor(QPalette::Window, light ? QColor("#DFE4EB") : QColor("#0F1115"));
    gallery->setPalette(desk);
    // The panels take the theme's own window colour back.
    const QPalette theme = QApplication::palette();

    auto* grid = new QGridLayout(gallery);
    grid->setContentsMargins(20, 20, 20, 20);
    grid->setSpacing(20);
    const QList<QPair<QWidget*, QRect>> cells = {
        {restorePanel(), {0, 0, 1, 1}}, {homePanel(), {1, 0, 1, 1}},    {controlsPanel(), {2, 0, 1, 1}},
        {workingPanel(), {0, 1, 1, 1}}, {endPanel(true), {1, 1, 1, 1}}, {endPanel(false), {2, 1, 1, 1}},
        {typePanel(), {0, 2, 1, 1}},    {iconsPanel(), {1, 2, 2, 1}},
    };
    for (const auto& [widget, cell] : cells) {
        widget->setPalette(theme);
        grid->addWidget(widget, cell.y(), cell.x(), cell.height(), cell.width());
    }
    return gallery;
}

QImage dialogsImage()
{
    QImage image(960, 300, QImage::Format_ARGB32_Premultiplied);
    image.fill(TPalette::themeTypeOf(QApplication::palette()) == ThemeType::Light ? QColor("#DFE4EB")
                                                                                  : QColor("#0F1115"));
    QPainter painter(&image);
    int x = 20;

    TDialog exitDialog;
    exitDialog.setMessage("Are you sure you want to exit and reboot your computer?");
    exitDialog.setIcon(":/warning.svg");
    exitDialog.addButton("Cancel");
    exitDialog.addButton("Restart", true, TDialog::ButtonWarning);
    exitDialog.moveToCenter();
    painter.drawPixmap(x, 20, exitDialog.grab());
    x += exitDialog.width() + 20;

    TDialog resetDialog;
    resetDialog.setIcon(QIcon::fromTheme("dialog-warning"));
    resetDialog.setTitle("Reset to Factory Settings");
    resetDialog.setMessage("It will permanently clear data of all users on this device, please confirm before "
                           "proceeding");
    resetDialog.addButton("Cancel");
    resetDialog.addButton("Confirm and Reset", true, TDialog::ButtonRecommend);
    resetDialog.moveToCenter();
    painter.drawPixmap(x, 20, resetDialog.grab());
    return image;
}

} // namespace

void TestTesselWidgets::gallery()
{
    const QString dir = qEnvironmentVariable("SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        QSKIP("SCREENSHOT_DIR is not set");
    }
    QVERIFY(QDir().mkpath(dir));
    TApplication* app = TApplication::instance();
    for (ThemeType theme : {ThemeType::Light, ThemeType::Dark}) {
        app->setThemeType(theme);
        QTRY_COMPARE(TPalette::themeTypeOf(QApplication::palette()), theme);
        const QString suffix = theme == ThemeType::Light ? "light" : "dark";

        std::unique_ptr<QWidget> gallery(buildGallery());
        gallery->show();
        QVERIFY(QTest::qWaitForWindowExposed(gallery.get()));
        // Let layouts, posted palette changes and the list's delayed layout settle before the grab.
        QTRY_VERIFY(!gallery->findChild<TListView*>()
                         ->indexWidget(gallery->findChild<TListView*>()->model()->index(1, 0))
                         ->geometry()
                         .isEmpty());
        const QString galleryPath = QDir(dir).filePath("gallery-" + suffix + ".png");
        QVERIFY(gallery->grab().save(galleryPath));

        const QString dialogPath = QDir(dir).filePath("dialogs-" + suffix + ".png");
        QVERIFY(dialogsImage().save(dialogPath));

        // The directory dialog the file chooser opens is Qt's own, so it is part of our look too.
        auto* chooser = gallery->findChild<TFileChooserEdit*>();
        chooser->setDirectory(QDir::rootPath());
        chooser->showFileDialog();
        QFileDialog* fileDialog = chooser->fileDialog();
        QVERIFY(fileDialog);
        fileDialog->resize(720, 440);
        QVERIFY(QTest::qWaitForWindowExposed(fileDialog));
        auto* files = fileDialog->findChild<QAbstractItemView*>("listView");
        QVERIFY(files);
        QTRY_VERIFY(files->model()->rowCount(files->rootIndex()) > 3);
        QVERIFY(fileDialog->grab().save(QDir(dir).filePath("filedialog-" + suffix + ".png")));
        fileDialog->reject();
    }
    app->setThemeType(ThemeType::Light);
}

// Child process modes used by the single-instance tests; anything else runs the tests.
int main(int argc, char** argv)
{
    if (argc == 3 && (std::strcmp(argv[1], "--try-single-instance") == 0 ||
                      std::strcmp(argv[1], "--abandon-single-instance") == 0)) {
        TApplication app(argc, argv);
        const bool acquired = app.setSingleInstance(QString::fromLocal8Bit(argv[2]));
        if (acquired && std::strcmp(argv[1], "--abandon-single-instance") == 0) {
            std::_Exit(childAcquired); // dies without releasing, like a crash
        }
        return acquired ? childAcquired : childRefused;
    }
    TApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestTesselWidgets test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tesselwidgets.moc"
