#pragma once
// The web pages inside the main window: the tool page view (page 111), the
// financing analysis (page 116) and the About dialog, and the commands of
// the main menu that open the site's member pages in the desktop browser.
#include <QDialog>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/WebUrls.h"

class QAbstractItemModel;
class QButtonGroup;
class QComboBox;
class QPushButton;

namespace vextal {

class CWebPane;
class CMainFrame;
class CVextalDoc;
class CMarketData;
struct AccountInfo;

// What the web views read from the program at the moment they open a page.
struct WebPageSource {
    std::function<std::string()> webBase;      // ends with "/"
    std::function<std::string()> userQuery;    // "loginid=...&userid=..."
    std::function<std::string()> currentFund;  // fund code of the fund information page
    std::function<std::vector<const AccountInfo*>()> accounts;
    std::function<std::string(const std::string&)> fundName;
    std::function<std::string(const std::string&)> fundType;
};

class CFundValueHistoryView : public QWidget {
    Q_OBJECT

public:
    explicit CFundValueHistoryView(WebPageSource source, QWidget* parent = nullptr);
    // Opens tool page `index` (0..10); any other index does nothing.
    void OpenToolPage(int index);
    // The refresh command: the page shown loaded again.
    void Reload();
    const std::string& LastUrl() const { return m_url; }
    CWebPane* Pane() const { return m_pane; }

private:
    WebPageSource m_source;
    CWebPane* m_pane;
    std::string m_url;
    int m_index = -1;
};

class CFinancingAnalyseView : public QWidget {
    Q_OBJECT

public:
    explicit CFinancingAnalyseView(WebPageSource source, QWidget* parent = nullptr);
    // "全部" first, then the user's accounts.
    void RefillAccounts();
    FinancingQuery Query() const;
    // The account chosen in "帐户:", 0 for "全部".
    int ChosenAccount() const;
    // "显示": the data text and the two pages.
    void ShowResult();
    // The figures of the last "显示" as a table (group, figure); null before it.
    std::shared_ptr<QAbstractItemModel> ResultTable() const;
    const std::string& FirstUrl() const { return m_first; }
    const std::string& SecondUrl() const { return m_second; }
    CWebPane* FirstPane() const { return m_chart; }
    CWebPane* SecondPane() const { return m_table; }

private:
    WebPageSource m_source;
    QButtonGroup* m_type;
    QComboBox* m_show;
    QComboBox* m_style;
    QComboBox* m_account;
    CWebPane* m_chart;
    CWebPane* m_table;
    std::string m_first, m_second;
    std::string m_data;            // the data text shown
    QString m_groupTitle, m_figureTitle;
};

// The About dialog: the program's version, the service and member, the
// licence line and the site's page.
class CAboutDialog : public QDialog {
    Q_OBJECT

public:
    CAboutDialog(const std::string& clientVersion, const std::string& serverUrl, const std::string& member,
                 QWidget* parent = nullptr);
    CWebPane* Pane() const { return m_pane; }

private:
    CWebPane* m_pane;
};

// Fills pages 111 and 116 of the frame and the handlers of the tool page
// commands, the analysis, About and the member pages.
void InstallWebPages(CMainFrame& frame, CVextalDoc& doc, CMarketData& market);

// Screenshot mode: wraps `done` so that the pictures of the web pages and
// the About dialog are taken first (<dir>/webpage-*.png, financing.png,
// about.png).
std::function<void(bool)> WithWebScreenshots(CMainFrame& frame, const QString& dir, std::function<void(bool)> done);

}  // namespace vextal
