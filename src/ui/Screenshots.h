#pragma once
// Headless pictures of the program for tests and the README.
#include <QString>
#include <functional>

namespace vextal {

class CMainFrame;
class CTaskRunner;

// Shows every page the frame has and saves <dir>/<page>.png for each, each
// once the downloads its page started have ended; `done` gets the outcome.
// Runs from the event loop.
void SaveScreenshots(CMainFrame& frame, CTaskRunner& runner, const QString& dir, std::function<void(bool ok)> done);

}  // namespace vextal
