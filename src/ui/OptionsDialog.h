#pragma once
// The options dialog ("参数设置"): display settings, the visible columns of
// the three configurable lists, the HTTP proxy, and the curve colours. The
// pages are filled from Vextal.ini when the dialog opens; "确定" writes
// every page, "取消" nothing.
#include <QDialog>
#include <QPushButton>
#include <QWidget>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "ui/ColumnCatalogue.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QTabWidget;

namespace vextal {

class CListView;
class CLookThroughOptionsPage;
class IUserPrompt;

// A colour button: shows its colour, picks a new one when clicked.
class CColourButton : public QPushButton {
    Q_OBJECT

public:
    explicit CColourButton(uint32_t colour, QWidget* parent = nullptr);
    uint32_t Colour() const { return m_colour; }  // 0x00BBGGRR
    void SetColour(uint32_t colour);

signals:
    void colourChanged(uint32_t colour);

private:
    uint32_t m_colour;
};

// "可选显示字段" and "已选显示字段" with their seven buttons.
class CColumnPage : public QWidget {
    Q_OBJECT

public:
    CColumnPage(const ConfigurableList& list, std::string concise, const std::string& iniPath,
                QWidget* parent = nullptr);
    std::vector<int> Visible() const;
    const ConfigurableList& List() const { return m_list; }

    // The buttons, by their texts.
    void MoveRight();     // "->"
    void MoveLeft();      // "<-"
    void All();           // "完整"
    void None();          // "<<"
    void Up();            // "↑"
    void Down();          // "↓"
    void Concise();       // "简洁"
    QListWidget* Available() const { return m_available; }
    QListWidget* Chosen() const { return m_chosen; }

private:
    void SetVisible(const std::vector<int>& ids);
    void Refill(const std::vector<int>& visible, int chosenRow);

    const ConfigurableList& m_list;
    std::string m_concise;
    std::vector<ColumnSpec> m_catalogue;
    QListWidget* m_available;
    QListWidget* m_chosen;
};

// The curve colour dialog: the chart's colours and the 16 curve colours,
// with a small chart that shows them.
class CCurveColourDialog : public QDialog {
    Q_OBJECT

public:
    explicit CCurveColourDialog(const CCurveColours& colours, QWidget* parent = nullptr);
    const CCurveColours& Colours() const { return m_colours; }
    QListWidget* Curves() const { return m_curves; }

private:
    void SelectCurve(int index);

    CCurveColours m_colours;
    QListWidget* m_curves;
    CColourButton* m_curveColour;
    QWidget* m_preview;
};

class COptionsDialog : public QDialog {
    Q_OBJECT

public:
    COptionsDialog(std::string iniPath, IUserPrompt& prompt, QWidget* parent = nullptr);
    // Writes every page's keys, then closes.
    void accept() override;

    QTabWidget* Tabs() const { return m_tabs; }
    CColumnPage* ColumnPage(int i) const { return m_columns[i]; }  // 0 accounts, 1 holdings, 2 latest values
    QCheckBox* ProxyBox() const { return m_proxyEnable; }
    QLineEdit* ProxyField(int i) const { return m_proxyFields[i]; }  // address, port, user, password
    // What the display and proxy pages hold now.
    CSettings ShowSettings() const;
    CProxySettings Proxy() const;
    CCurveColours& CurveColours() { return m_curveColours; }
    // Opens the curve colour dialog; its "确定" keeps the colours for this dialog's "确定".
    void EditCurveColours();

private:
    QWidget* BuildShowPage();
    QWidget* BuildProxyPage();
    void UpdateProxyFields();
    void UpdatePreview();

    std::string m_iniPath;
    IUserPrompt& m_prompt;
    CSettings m_loaded;
    CCurveColours m_curveColours;
    QTabWidget* m_tabs;
    QButtonGroup* m_showType;
    QButtonGroup* m_itemSize;
    QButtonGroup* m_fundView;
    CColourButton* m_highLight;
    QCheckBox* m_zeroHide;
    QCheckBox* m_showNew;
    QCheckBox* m_thousand;
    CListView* m_preview;
    CColumnPage* m_columns[3];
    QCheckBox* m_proxyEnable;
    QLineEdit* m_proxyFields[4];
    CLookThroughOptionsPage* m_lookThrough;
};

// Tells the lists that the options changed (after "确定"), so they apply
// them at once.
class COptionsNotifier : public QObject {
    Q_OBJECT

signals:
    void settingsChanged();
};
COptionsNotifier& OptionsNotifier();

// Opens the dialog; after "确定" the settings mirror takes the new display
// and proxy values, the transport the proxy, and OptionsNotifier() tells
// the lists. True when the user chose "确定".
bool RunOptionsDialog(CSettings& settings, const std::string& iniPath, IUserPrompt& prompt, QWidget* parent);
// The same without the dialog: reads the file into the mirror and applies it.
void ApplyOptions(CSettings& settings, const std::string& iniPath);

}  // namespace vextal
