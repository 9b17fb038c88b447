#pragma once
// A page inside the program: the web engine where it is built in and
// allowed, a plain rich-text browser otherwise (VEXTAL_NO_WEBENGINE=1, or
// builds without the engine), so headless runs stay light.
#include <QWidget>

namespace vextal {

class CWebPane : public QWidget {
    Q_OBJECT

public:
    explicit CWebPane(QWidget* parent = nullptr);
    // A local file path or an http(s) URL.
    void Load(const QString& where);
    bool UsesWebEngine() const { return m_engine; }

signals:
    // The page (or its failure) is shown.
    void loaded(bool ok);

private:
    QWidget* m_view = nullptr;
    bool m_engine = false;
};

}  // namespace vextal
