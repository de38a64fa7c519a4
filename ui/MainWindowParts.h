// What the source files of the main window share: its measures, the byte conversions at
// its editors, the status part of a hint, and the wait cursor. Only the main window's own
// source files include this.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <string>

namespace tandrel::mainwindow {

inline constexpr int kMinWidth = 675;
inline constexpr int kMinHeight = 450;
inline constexpr int kFieldListWidth = 105;
inline constexpr int kMoveButtonsWidth = 64;
inline constexpr int kSplitterHeight = 5;
inline constexpr int kHeaderPanelHeight = 82;
inline constexpr int kSplitterMinSize = 60;
inline constexpr int kGroupBoxWidth = 139;
inline constexpr const char* kWindowHint = "|Press F1 for help";
// The property that holds a control's help context number.
inline constexpr const char* kHelpContext = "helpContext";

inline QString fromBytes(const std::string& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string toBytes(const QString& s) {
    const QByteArray b = s.toLocal8Bit();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

// "tooltip|status": the part after the first "|", or the whole hint without one.
inline QString statusPart(const QString& hint) {
    const auto bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

// Shows the hourglass for the lifetime of the object, and puts back what was there.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace tandrel::mainwindow
