// Vextal: the desktop program.
#include <QApplication>
#include <QCommandLineParser>

#include "ui/VextalApp.h"

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vextal"));
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Program directory (Vextal.mdb, Vextal.ini)."),
                            QStringLiteral("DIR"));
    QCommandLineOption shots(QStringLiteral("screenshots"),
                             QStringLiteral("Log in, save one PNG per page into DIR, then exit."), QStringLiteral("DIR"));
    QCommandLineOption user(QStringLiteral("user"), QStringLiteral("Login name for --screenshots."),
                            QStringLiteral("NAME"), QStringLiteral("demo"));
    QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password for --screenshots."),
                                QStringLiteral("PASSWORD"), QStringLiteral("demo123"));
    QCommandLineOption offline(QStringLiteral("offline"), QStringLiteral("Log in offline (--screenshots)."));
    parser.addOptions({home, shots, user, password, offline});
    parser.process(app);

    vextal::AppOptions options;
    if (parser.isSet(home)) options.args = {"--home", parser.value(home).toStdString()};
    options.screenshotDir = parser.value(shots);
    options.user = parser.value(user).toStdString();
    options.password = parser.value(password).toStdString();
    options.offline = parser.isSet(offline);
    options.autoLogin = !options.screenshotDir.isEmpty();
    vextal::CVextalApp vextal(options);
    return vextal.Run();
}
