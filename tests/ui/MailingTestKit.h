// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the delivery and Send command tests: what the main window hands the Send
// command, a driver for the modal windows of a run, and reading what a real server got.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "model/AppState.h"
#include "ui/mailing/DeliveryWindow.h"
#include "ui/mailing/PreparationWindow.h"
#include "ui/mailing/SendCheckDialog.h"
#include "ui/mailing/SendLauncher.h"
#include "tests/support/SmtpServers.h"

namespace tandrel::test {

// What the main window hands the Send command.
struct TestMain {
    AppState st;
    MailEditors eds;
    bool preview = false;
    std::vector<Person*> rows;
    QWidget widget;

    Person& addPerson(const std::string& name, const std::string& email,
                          const std::string& town) {
        if (!st.db) {
            st.newDatabase();
            st.db->fields.push_back(Field{"town"});
        }
        Person& e = st.db->appendEntry();
        e.setName(name);
        e.setEmail(email);
        e.values = {name, email, town};
        return e;
    }
};

// The two windows of a run, created the way the program creates them.
struct RunRig {
    TestMain main;
    DeliveryWindow* delivery = new DeliveryWindow(&main.widget);
    PreparationWindow* preparation = new PreparationWindow(&main.widget);
    SendWindows windows() { return {&main.widget, preparation, delivery}; }
    void send() { RunMailing(windows(), main.st, main.rows, main.eds, main.preview); }
    void sendTest(const Person& person) {
        RunTestMail(windows(), main.st, main.eds, main.preview, person);
    }
};

// Plays the user during a run's modal windows: answers error boxes (recording their
// texts) and closes the delivery window once "C&lose" is enabled. After `limitMs` it
// gives up and presses "C&ancel", so a broken run fails the test instead of hanging.
class ModalDriver {
public:
    explicit ModalDriver(int limitMs = 60000) : limitMs_(limitMs) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        clock_.start();
        timer_.start();
    }

    // Texts of the error boxes and of the "Check before sending" windows, in order.
    std::vector<QString> boxes;
    // The check window is answered "Send Anyway" where offered, unless this is set.
    bool cancelChecks = false;
    int checkWindowsSeen = 0;
    bool sendAnywayOffered = false; // by the last check window
    int sendWindowsSeen = 0;        // showings of the delivery window
    int sendWindowsClosed = 0;      // of them, runs that reached "C&lose"
    int wrapWindowsSeen = 0;        // showings of the preparation window
    bool hourglassWhilePreparing = false;
    bool timedOut = false;
    QRect wrapFrame, sendFrame; // where the two windows were seen on the screen
    // Called on every tick while the delivery window is up, until it returns true
    // (it may press "C&ancel" and return true).
    std::function<bool(DeliveryWindow&)> onSendWindow;

private:
    void tick() {
        QWidget* w = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            boxes.push_back(box->text());
            box->done(QMessageBox::Ok);
            return;
        }
        if (auto* check = qobject_cast<SendCheckDialog*>(w)) {
            ++checkWindowsSeen;
            boxes.push_back(check->problemList->toPlainText());
            sendAnywayOffered = check->sendAnywayButton != nullptr;
            if (sendAnywayOffered && !cancelChecks)
                check->sendAnywayButton->click();
            else
                check->cancelButton->click();
            return;
        }
        if (auto* wrap = qobject_cast<PreparationWindow*>(w)) {
            if (wrap != wrapSeen_) ++wrapWindowsSeen;
            const QCursor* c = QApplication::overrideCursor();
            hourglassWhilePreparing = c && c->shape() == Qt::WaitCursor;
            wrapFrame = wrap->frameGeometry();
            wrapSeen_ = wrap;
            seen_ = nullptr;
            return;
        }
        wrapSeen_ = nullptr;
        auto* sw = qobject_cast<DeliveryWindow*>(w);
        if (!sw || !sw->isVisible()) {
            seen_ = nullptr;
            return;
        }
        sendFrame = sw->frameGeometry();
        if (seen_ != sw) {
            seen_ = sw;
            handled_ = false;
            ++sendWindowsSeen;
        }
        if (!handled_ && onSendWindow && onSendWindow(*sw)) {
            handled_ = true;
            return;
        }
        if (sw->closeButton->isEnabled()) {
            ++sendWindowsClosed;
            seen_ = nullptr;
            sw->closeButton->click();
        } else if (clock_.elapsed() > limitMs_) {
            timedOut = true;
            seen_ = nullptr;
            sw->cancelButton->click();
        }
    }

    QTimer timer_;
    QElapsedTimer clock_;
    int limitMs_;
    DeliveryWindow* seen_ = nullptr;
    PreparationWindow* wrapSeen_ = nullptr;
    bool handled_ = false;
};

// Counts the paint events of the widgets it is installed on.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// The message files of a store directory of the shared aiosmtpd store server
// (NNNNNN.eml beside NNNNNN.env), in the order they were accepted.
inline QStringList StoredFiles(const std::string& storeDir) {
    QDir d(QString::fromStdString(storeDir));
    QStringList out;
    for (const QString& f : d.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name))
        out << d.filePath(f);
    return out;
}

// The envelope stored beside a message file: its "MAIL FROM:" or "RCPT TO:" values.
inline QStringList StoredEnvelope(const QString& emlFile, const QByteArray& key) {
    QFile f(QString(emlFile).replace(QStringLiteral(".eml"), QStringLiteral(".env")));
    f.open(QIODevice::ReadOnly);
    QStringList out;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key)) out << QString::fromLatin1(line.mid(key.size()));
    return out;
}
inline QStringList StoredRecipients(const QString& emlFile) {
    return StoredEnvelope(emlFile, "RCPT TO:");
}
inline QString StoredSender(const QString& emlFile) {
    return StoredEnvelope(emlFile, "MAIL FROM:").value(0);
}

// The options of the shared aiosmtpd store server that refuses these addresses at
// RCPT TO: "bob@example.org" with 550, "bob@example.org=451" with the code after the "=".
// (Debian's smtp-sink cannot refuse one recipient among others: its "-f RCPT" refuses
// every one.)
inline AiosmtpdOptions RefusingAt(std::vector<std::string> addresses) {
    AiosmtpdOptions options;
    options.refused = std::move(addresses);
    return options;
}

// One received message, as Python's `email` package reads it.
struct ParsedPart {
    QString contentType;
    QString fileName;
    QByteArray data; // decoded payload
};
struct ParsedMessage {
    QString from, to, cc, subject, date, mailer, mime;
    bool hasBcc = false;
    QStringList defects;
    bool multipart = false;
    QByteArray body; // the whole payload of a plain message, or the first part's
    std::vector<ParsedPart> parts;
};

inline const char* kParseScript = R"PY(
import base64, email, json, sys
out = []
for path in sys.argv[1:]:
    with open(path, 'rb') as f:
        m = email.message_from_bytes(f.read())
    rec = {k: m.get(h) for k, h in (('from', 'From'), ('to', 'To'), ('cc', 'Cc'),
           ('subject', 'Subject'), ('date', 'Date'), ('mailer', 'X-Mailer'),
           ('mime', 'MIME-Version'))}
    rec['bcc'] = 'Bcc' in m
    rec['defects'] = [type(d).__name__ for d in m.defects]
    rec['multipart'] = m.is_multipart()
    rec['parts'] = []
    if m.is_multipart():
        for p in m.get_payload():
            rec['defects'] += [type(d).__name__ for d in p.defects]
            rec['parts'].append({'type': p.get_content_type(), 'name': p.get_filename(),
                                 'data': base64.b64encode(p.get_payload(decode=True) or b'').decode()})
        rec['body'] = rec['parts'][0]['data'] if rec['parts'] else ''
    else:
        rec['body'] = base64.b64encode(m.get_payload(decode=True) or b'').decode()
    out.append(rec)
print(json.dumps(out))
)PY";

// Parses message files with Debian's Python (the one that has the mail packages).
inline std::vector<ParsedMessage> ParseMessages(const QStringList& files) {
    QProcess py;
    QStringList args{QStringLiteral("-c"), QString::fromUtf8(kParseScript)};
    args += files;
    py.start(QStringLiteral("/usr/bin/python3"), args);
    py.waitForFinished(30000);
    const QJsonArray arr = QJsonDocument::fromJson(py.readAllStandardOutput()).array();
    std::vector<ParsedMessage> out;
    for (const auto& v : arr) {
        const QJsonObject o = v.toObject();
        ParsedMessage m;
        m.from = o[QStringLiteral("from")].toString();
        m.to = o[QStringLiteral("to")].toString();
        m.cc = o[QStringLiteral("cc")].toString();
        m.hasBcc = o[QStringLiteral("bcc")].toBool();
        m.subject = o[QStringLiteral("subject")].toString();
        m.date = o[QStringLiteral("date")].toString();
        m.mailer = o[QStringLiteral("mailer")].toString();
        m.mime = o[QStringLiteral("mime")].toString();
        for (const auto& d : o[QStringLiteral("defects")].toArray())
            m.defects << d.toString();
        m.multipart = o[QStringLiteral("multipart")].toBool();
        m.body = QByteArray::fromBase64(o[QStringLiteral("body")].toString().toLatin1());
        for (const auto& p : o[QStringLiteral("parts")].toArray()) {
            const QJsonObject po = p.toObject();
            m.parts.push_back(
                {po[QStringLiteral("type")].toString(), po[QStringLiteral("name")].toString(),
                 QByteArray::fromBase64(po[QStringLiteral("data")].toString().toLatin1())});
        }
        out.push_back(m);
    }
    return out;
}

} // namespace tandrel::test
