// Vextal: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QPalette>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/ProgramVersion.h"
#include "ui/Automation.h"
#include "ui/VextalApp.h"

namespace {

// The browser engine refuses to start as root with its sandbox on and ends
// the process from deep inside; say once, before anything starts, what lets
// it run (scripts/demo and scripts/test set it). Without the engine
// (VEXTAL_NO_WEBENGINE=1, see WebPane) root is no matter.
bool BrowserEngineCanStart()
{
#ifdef VEXTAL_HAVE_WEBENGINE
    if (geteuid() != 0 || std::getenv("QTWEBENGINE_DISABLE_SANDBOX")) return true;
    if (const char* off = std::getenv("VEXTAL_NO_WEBENGINE")) {
        char* end = nullptr;
        if (std::strtol(off, &end, 0) != 0 && *end == '\0') return true;
    }
    const char* flags = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
    return flags && std::strstr(flags, "--no-sandbox");
#else
    return true;
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    // Answered before anything else starts: no display, no engine needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("Vextal %s\n", vextal::kProgramVersion);
            return 0;
        }
    }
    if (!BrowserEngineCanStart()) {
        std::fputs("Vextal: running as root needs QTWEBENGINE_DISABLE_SANDBOX=1 in the environment "
                   "(the web engine refuses root with its sandbox on)\n",
                   stderr);
        return 1;
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // The application object took the desktop's locale for everything; the
    // numbers keep the C one (a decimal point), whatever the desktop uses.
    std::setlocale(LC_NUMERIC, "C");
    if (!vextal::LoadQtChineseTexts())
        std::fputs("Vextal: Qt's Chinese translation (package qt6-translations-l10n) is missing; "
                   "standard buttons stay English\n",
                   stderr);
    QApplication::setApplicationName(QStringLiteral("Vextal"));
    QApplication::setApplicationVersion(QString::fromLatin1(vextal::kProgramVersion));
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Program directory (Vextal.mdb, Vextal.ini)."),
                            QStringLiteral("DIR"));
    QCommandLineOption shots(QStringLiteral("screenshots"),
                             QStringLiteral("Log in, save one PNG per page into DIR, then exit."), QStringLiteral("DIR"));
    QCommandLineOption user(QStringLiteral("user"), QStringLiteral("Login name for --screenshots."),
                            QStringLiteral("NAME"), QStringLiteral("demo"));
    QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password for --screenshots."),
                                QStringLiteral("PASSWORD"), QStringLiteral("demo123"));
    QCommandLineOption offline(QStringLiteral("offline"), QStringLiteral("Log in offline (--screenshots)."));
    // For tests of the whole program: see ui/Automation.h.
    QCommandLineOption automation(QStringLiteral("automation"),
                                  QStringLiteral("Take requests of a test on the socket PATH (owner only)."),
                                  QStringLiteral("PATH"));
    parser.addOptions({home, shots, user, password, offline, automation});
    parser.process(app);

    vextal::AppOptions options;
    if (parser.isSet(home)) options.args = {"--home", parser.value(home).toStdString()};
    options.screenshotDir = parser.value(shots);
    // Pictures under a dark desktop palette (VEXTAL_SCREENSHOT_PALETTE=dark),
    // to see that every text stays readable there.
    if (!options.screenshotDir.isEmpty() && qEnvironmentVariable("VEXTAL_SCREENSHOT_PALETTE") == QLatin1String("dark")) {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(45, 45, 48));
        dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        dark.setColor(QPalette::Button, QColor(55, 55, 58));
        dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
        dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        // As a desktop's dark scheme does: disabled commands look disabled.
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(QPalette::Disabled, role, QColor(125, 125, 128));
        QApplication::setPalette(dark);
    }
    options.user = parser.value(user).toStdString();
    options.password = parser.value(password).toStdString();
    options.offline = parser.isSet(offline);
    options.autoLogin = !options.screenshotDir.isEmpty();
    vextal::CVextalApp vextal(options);
    std::unique_ptr<vextal::CAutomation> driver;
    if (parser.isSet(automation)) {
        driver = std::make_unique<vextal::CAutomation>(vextal);
        QString error;
        if (!driver->Listen(parser.value(automation), &error)) {
            std::fprintf(stderr, "Vextal: --automation: %s\n", qPrintable(error));
            return 1;
        }
    }
    return vextal.Run();
}
