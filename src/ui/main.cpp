// Vextal: the desktop program.
#include <QApplication>
#include <QCommandLineParser>

#include "common/ProgramDir.h"
#include "ui/MainFrame.h"
#include "ui/MessagePrompt.h"
#include "ui/Screenshots.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vextal"));
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption home(QStringLiteral("home"), QStringLiteral("Program directory (Vextal.mdb, Vextal.ini)."),
                            QStringLiteral("DIR"));
    parser.addOption(home);
    QCommandLineOption shots(QStringLiteral("screenshots"),
                             QStringLiteral("Visit every page, save one PNG per page into DIR, then exit."),
                             QStringLiteral("DIR"));
    parser.addOption(shots);
    parser.process(app);
    if (parser.isSet(home)) vextal::SetProgramDirectory(parser.value(home).toStdString());
    else if (const char* env = std::getenv("VEXTAL_HOME")) vextal::SetProgramDirectory(env);

    vextal::CMessagePrompt prompt;
    vextal::FrameContext context;
    context.iniPath = vextal::ProgramPath("Vextal.ini");
    context.prompt = &prompt;
    vextal::CMainFrame frame(context);
    prompt.SetParent(&frame);
    if (parser.isSet(shots)) {
        frame.resize(1280, 800);
        frame.show();
        return vextal::SaveScreenshots(frame, parser.value(shots)) ? 0 : 1;
    }
    frame.showMaximized();
    return app.exec();
}
