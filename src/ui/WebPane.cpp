#include "ui/WebPane.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "net/Encoding.h"

#ifdef VEXTAL_HAVE_WEBENGINE
#include <QWebEngineView>
#endif

namespace vextal {

CWebPane::CWebPane(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
#ifdef VEXTAL_HAVE_WEBENGINE
    if (qEnvironmentVariableIntValue("VEXTAL_NO_WEBENGINE") == 0) {
        auto* view = new QWebEngineView(this);
        connect(view, &QWebEngineView::loadFinished, this, &CWebPane::loaded);
        m_view = view;
        m_engine = true;
    }
#endif
    if (!m_view) {
        auto* browser = new QTextBrowser(this);
        browser->setOpenExternalLinks(true);
        m_view = browser;
    }
    layout->addWidget(m_view);
}

void CWebPane::Load(const QString& where)
{
    QUrl url = where.startsWith("http://") || where.startsWith("https://") ? QUrl(where) : QUrl::fromLocalFile(where);
#ifdef VEXTAL_HAVE_WEBENGINE
    if (m_engine) {
        static_cast<QWebEngineView*>(m_view)->load(url);
        return;
    }
#endif
    auto* browser = static_cast<QTextBrowser*>(m_view);
    if (url.isLocalFile()) {
        QFile f(url.toLocalFile());
        if (f.open(QIODevice::ReadOnly)) {
            browser->setSearchPaths({QFileInfo(f).absolutePath()});
            // The service's pages declare GBK; the engine reads that itself, the browser needs it done.
            browser->setHtml(QString::fromStdString(ServiceTextToUtf8(f.readAll().toStdString())));
        }
    } else {
        browser->setSource(url);
    }
    emit loaded(true);
}

}  // namespace vextal
