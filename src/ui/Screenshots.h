#pragma once
// Headless pictures of the program for tests and the README.
#include <QString>

namespace vextal {

class CMainFrame;

// Shows every page the frame has and saves <dir>/<page>.png for each.
bool SaveScreenshots(CMainFrame& frame, const QString& dir);

}  // namespace vextal
