#include "ui/Automation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QFile>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ui/FundPicker.h"
#include "ui/MainFrame.h"
#include "ui/TaskRunner.h"
#include "ui/VextalApp.h"

namespace vextal {

namespace {

QString OneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text;
}

QString Plain(QString caption)
{
    caption = caption.trimmed();
    while (caption.endsWith(QLatin1Char(':')) || caption.endsWith(QChar(0xFF1A))) caption.chop(1);
    return caption.remove(QLatin1Char('&')).trimmed();
}

QWidget* FrontWindow()
{
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return nullptr;
}

// The first input widget of a form row's field (a widget, or a row of them).
QWidget* InputOf(QLayoutItem* item)
{
    if (!item) return nullptr;
    if (QWidget* w = item->widget()) return w;
    if (QLayout* layout = item->layout()) {
        for (int i = 0; i < layout->count(); ++i) {
            QWidget* w = InputOf(layout->itemAt(i));
            if (w && !qobject_cast<QLabel*>(w)) return w;
        }
    }
    return nullptr;
}

// A field by its objectName, or by the caption of its form row.
QWidget* FindField(QWidget* dialog, const QString& key)
{
    if (QWidget* named = dialog->findChild<QWidget*>(key)) return named;
    for (QFormLayout* form : dialog->findChildren<QFormLayout*>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
            auto* caption = label ? qobject_cast<QLabel*>(label->widget()) : nullptr;
            if (caption && Plain(caption->text()) == key) return InputOf(form->itemAt(row, QFormLayout::FieldRole));
        }
    }
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
        if (b->isCheckable() && Plain(b->text()) == key) return b;
    return nullptr;
}

QString SetField(QWidget* w, const QString& value)
{
    if (auto* fund = qobject_cast<CFundSelector*>(w)) {
        fund->SetFundID(value.toStdString());
        return QString::fromStdString(fund->FundID()) == value ? QString() : QStringLiteral("no such fund");
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setFocus();
        edit->setText(value);
        emit edit->textEdited(value);
        return {};
    }
    if (auto* box = qobject_cast<QComboBox*>(w)) {
        int index = box->findText(value);
        if (index < 0) index = box->findText(value, Qt::MatchContains);
        if (index < 0 && box->isEditable()) {
            box->setEditText(value);
            return {};
        }
        if (index < 0) return QStringLiteral("no such choice");
        box->setCurrentIndex(index);
        emit box->activated(index);
        return {};
    }
    if (auto* time = qobject_cast<QDateTimeEdit*>(w)) {
        const QDateTime at = QDateTime::fromString(value, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!at.isValid()) return QStringLiteral("time is not YYYY-MM-DD HH:MM:SS");
        time->setDateTime(at);
        return {};
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w); button && button->isCheckable()) {
        const bool on = value == QLatin1String("1") || value == QLatin1String("true");
        if (button->isChecked() != on) button->click();
        return {};
    }
    return QStringLiteral("not an input field");
}

QString FieldValue(QWidget* w)
{
    if (auto* fund = qobject_cast<CFundSelector*>(w)) return QString::fromStdString(fund->FundID());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* box = qobject_cast<QComboBox*>(w)) return box->currentText();
    if (auto* time = qobject_cast<QDateTimeEdit*>(w)) return time->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    return {};
}

QAbstractButton* FindButton(QWidget* dialog, const QString& text)
{
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
        if (b->isVisible() && Plain(b->text()) == text) return b;
    return nullptr;
}

QAbstractButton* DefaultButton(QWidget* dialog)
{
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
        if (QAbstractButton* b = box->defaultButton()) return b;
        const auto buttons = box->buttons();
        return buttons.isEmpty() ? nullptr : buttons.first();
    }
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->isVisible() && b->isDefault()) return b;
    return nullptr;
}

// The index-th list of the page as the eye reads them: top to bottom, left to right.
QAbstractItemView* ListOf(QWidget* page, int index)
{
    if (!page) return nullptr;
    if (auto* view = qobject_cast<QAbstractItemView*>(page)) return index == 0 ? view : nullptr;
    QList<QAbstractItemView*> lists;
    for (QAbstractItemView* view : page->findChildren<QAbstractItemView*>())
        if (view->isVisible() && !qobject_cast<QHeaderView*>(view) && view->model() && view->model()->columnCount() > 0)
            lists << view;
    std::sort(lists.begin(), lists.end(), [page](QWidget* a, QWidget* b) {
        const QPoint pa = a->mapTo(page, QPoint()), pb = b->mapTo(page, QPoint());
        return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
    });
    return index >= 0 && index < lists.size() ? lists[index] : nullptr;
}

void TreeLines(QTreeWidgetItem* item, QStringList& lines)
{
    lines << QStringLiteral("%1\t%2\t%3")
                 .arg(item->data(0, Qt::UserRole).toInt())
                 .arg(item->data(0, Qt::UserRole + 1).toString(), OneLine(item->text(0)));
    for (int i = 0; i < item->childCount(); ++i) TreeLines(item->child(i), lines);
}

QTreeWidgetItem* FindItem(QTreeWidgetItem* item, int account, const QString& fund)
{
    if (item->data(0, Qt::UserRole).toInt() == account && item->data(0, Qt::UserRole + 1).toString() == fund &&
        (account != 0 || !fund.isEmpty()))
        return item;
    for (int i = 0; i < item->childCount(); ++i)
        if (QTreeWidgetItem* found = FindItem(item->child(i), account, fund)) return found;
    return nullptr;
}

QString Rows(const QStringList& lines)
{
    QString answer = QStringLiteral("ok %1").arg(lines.size());
    for (const QString& line : lines) answer += QLatin1Char('\n') + line;
    return answer;
}

}  // namespace

CAutomation::CAutomation(CVextalApp& app, QObject* parent) : QObject(parent), m_app(app) {}

CAutomation::~CAutomation()
{
    for (auto& [fd, peer] : m_peers) {
        delete peer.notifier;
        close(fd);
    }
    if (m_listen >= 0) {
        close(m_listen);
        unlink(QFile::encodeName(m_path).constData());
    }
}

bool CAutomation::Listen(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || static_cast<size_t>(name.size()) >= sizeof address.sun_path) {
        *error = QStringLiteral("socket path empty or too long");
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    m_listen = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listen < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // A socket left by an earlier run is replaced; anything else at the path is kept.
    struct stat old {};
    if (lstat(name.constData(), &old) == 0) {
        if (!S_ISSOCK(old.st_mode)) {
            close(m_listen);
            m_listen = -1;
            *error = QStringLiteral("%1 exists and is not a socket").arg(path);
            return false;
        }
        unlink(name.constData());
    }
    // Owner only from the first moment: no window in which another user may connect.
    const mode_t mask = umask(0177);
    const int bound = bind(m_listen, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    umask(mask);
    if (bound != 0 || listen(m_listen, 4) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        close(m_listen);
        m_listen = -1;
        return false;
    }
    m_path = path;
    m_accept = new QSocketNotifier(m_listen, QSocketNotifier::Read, this);
    connect(m_accept, &QSocketNotifier::activated, this, [this] { Accept(); });
    return true;
}

void CAutomation::Accept()
{
    const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid()) {
        close(fd);
        return;
    }
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    m_peers[fd] = Peer{notifier, {}};
    connect(notifier, &QSocketNotifier::activated, this, [this, fd] { Read(fd); });
}

void CAutomation::Drop(int fd)
{
    auto it = m_peers.find(fd);
    if (it == m_peers.end()) return;
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    m_peers.erase(it);
    close(fd);
}

void CAutomation::Read(int fd)
{
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
        Drop(fd);
        return;
    }
    m_peers[fd].pending.append(buffer, static_cast<int>(n));
    // Requests are answered one by one; none of them waits (what may open a
    // dialog runs after its answer), so a second request is read in time.
    for (;;) {
        auto it = m_peers.find(fd);
        if (it == m_peers.end()) return;
        const int end = it->second.pending.indexOf('\n');
        if (end < 0) return;
        const QString line = QString::fromUtf8(it->second.pending.left(end)).trimmed();
        it->second.pending.remove(0, end + 1);
        const QByteArray answer = (Answer(line) + QLatin1Char('\n')).toUtf8();
        for (qsizetype done = 0; done < answer.size();) {
            const ssize_t w = write(fd, answer.constData() + done, static_cast<size_t>(answer.size() - done));
            if (w <= 0) {
                Drop(fd);
                return;
            }
            done += w;
        }
    }
}

QString CAutomation::Answer(const QString& line)
{
    const QString verb = line.section(QLatin1Char(' '), 0, 0);
    const QString rest = line.section(QLatin1Char(' '), 1);
    CMainFrame* frame = m_app.Frame();
    QWidget* front = FrontWindow();

    if (verb == QLatin1String("ping")) return QStringLiteral("ok");
    if (verb == QLatin1String("dialog")) {
        if (!front) return QStringLiteral("ok -");
        QString text;
        if (auto* box = qobject_cast<QMessageBox*>(front)) text = box->text();
        return QStringLiteral("ok %1\t%2").arg(OneLine(front->windowTitle()), OneLine(text));
    }
    // Fields and buttons: of the front dialog, else of the page shown.
    QWidget* target = front ? front : frame ? frame->HomeView()->currentWidget() : nullptr;
    if (verb == QLatin1String("set") || verb == QLatin1String("get")) {
        const QString key = verb == QLatin1String("set") ? rest.section(QLatin1Char(' '), 0, 0) : rest;
        QWidget* field = target ? FindField(target, key) : nullptr;
        if (!field) return QStringLiteral("error no field ") + key;
        if (verb == QLatin1String("get")) return QStringLiteral("ok ") + OneLine(FieldValue(field));
        const QString failure = SetField(field, rest.section(QLatin1Char(' '), 1));
        return failure.isEmpty() ? QStringLiteral("ok") : QStringLiteral("error ") + failure;
    }
    if (verb == QLatin1String("click") || verb == QLatin1String("accept")) {
        const bool click = verb == QLatin1String("click");
        QWidget* on = click ? target : front;  // accept: the front dialog's default only
        QAbstractButton* button = !on ? nullptr : click ? FindButton(on, rest) : DefaultButton(on);
        if (!button) return QStringLiteral("error no button");
        // The click may open a dialog of its own: after the answer.
        QTimer::singleShot(0, button, &QAbstractButton::click);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("busy"))
        return QStringLiteral("ok %1").arg(m_app.Runner() && m_app.Runner()->IsBusy() ? 1 : 0);
    if (verb == QLatin1String("shot")) {
        QWidget* window = front ? front : frame;
        if (!window) return QStringLiteral("error no window");
        return window->grab().save(rest) ? QStringLiteral("ok") : QStringLiteral("error not saved");
    }

    // The rest needs the main window.
    if (!frame) return QStringLiteral("error no main window");
    if (verb == QLatin1String("command")) {
        bool ok = false;
        const int id = rest.toInt(&ok);
        if (!ok || !frame->Action(id)) return QStringLiteral("error no such command");
        QTimer::singleShot(0, frame, [frame, id] { frame->RunCommand(id); });
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("page")) return QStringLiteral("ok %1").arg(frame->Navigation().page);
    if (verb == QLatin1String("status")) return QStringLiteral("ok ") + OneLine(frame->statusBar()->currentMessage());
    if (verb == QLatin1String("rows")) {
        QAbstractItemView* view = ListOf(frame->HomeView()->currentWidget(), rest.isEmpty() ? 0 : rest.toInt());
        if (!view) return QStringLiteral("error no list");
        QAbstractItemModel* model = view->model();
        QStringList lines;
        for (int r = 0; r < model->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < model->columnCount(); ++c) cells << OneLine(model->index(r, c).data().toString());
            lines << cells.join(QLatin1Char('\t'));
        }
        return Rows(lines);
    }
    if (verb == QLatin1String("pick")) {
        QAbstractItemView* view = ListOf(frame->HomeView()->currentWidget(), rest.section(QLatin1Char(' '), 0, 0).toInt());
        const int row = rest.section(QLatin1Char(' '), 1, 1).toInt();
        if (!view || row < 0 || row >= view->model()->rowCount()) return QStringLiteral("error no such row");
        view->setCurrentIndex(view->model()->index(row, 0));
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("tree")) {
        QStringList lines;
        QTreeWidget* tree = frame->AccountTree();
        for (int i = 0; tree && i < tree->topLevelItemCount(); ++i) TreeLines(tree->topLevelItem(i), lines);
        return Rows(lines);
    }
    if (verb == QLatin1String("select")) {
        QTreeWidget* tree = frame->AccountTree();
        const int account = rest.section(QLatin1Char(' '), 0, 0).toInt();
        const QString fund = rest.section(QLatin1Char(' '), 1, 1);
        QTreeWidgetItem* item = nullptr;
        for (int i = 0; tree && !item && i < tree->topLevelItemCount(); ++i)
            item = FindItem(tree->topLevelItem(i), account, fund);
        if (!item) return QStringLiteral("error no such item");
        tree->setCurrentItem(item);
        return QStringLiteral("ok");
    }
    if (verb == QLatin1String("quit")) {
        QTimer::singleShot(0, frame, &QWidget::close);
        return QStringLiteral("ok");
    }
    return QStringLiteral("error unknown request");
}

}  // namespace vextal
