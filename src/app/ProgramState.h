#pragma once
// Values the whole program reads without going through the document: the
// server URL (transport and file downloads), the offline flag, the newest
// NAV date the service announced at login and the update-pending flag of
// the help file.
#include <string>

namespace vextal {

std::string GetProgramServerUrl();
void SetProgramServerUrl(const std::string& url);

bool IsProgramOffline();
void SetProgramOffline(bool offline);

struct NewestValueDate {
    int year = 0, month = 0, day = 0;
};
NewestValueDate GetNewestValueDate();
void SetNewestValueDate(const NewestValueDate& date);

// Set when the user accepts an upgrade: the next help request fetches the
// help file again.
bool IsUpdatePending();
void SetUpdatePending(bool pending);

}  // namespace vextal
