#include "FieldsDialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "DatabaseEditing.h"
#include "DatabaseEditor.h"
#include "WidgetHelpers.h"

using tandrel::MakeButton;

TForm4::TForm4(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
               QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setObjectName(QStringLiteral("TForm4"));
    setWindowTitle(QStringLiteral("Fields"));
    // A fixed dialog whose only border icon is the system menu with its close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(340, 112);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

    auto* left = new QVBoxLayout;
    left->setSpacing(2);
    Edit1 = new QLineEdit;
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setAccessibleName(QStringLiteral("Field name"));
    changeBut = MakeButton("changeBut", QStringLiteral("Change"));
    newBut = MakeButton("newBut", QStringLiteral("New"));
    newBut->setDefault(true);
    Done = MakeButton("Done", QStringLiteral("Done"));
    left->addWidget(Edit1);
    left->addWidget(changeBut);
    left->addWidget(newBut);
    left->addWidget(Done);
    left->addStretch(1);
    ListBox1 = new QListWidget;
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setAccessibleName(QStringLiteral("Fields"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addLayout(left);
    outer->addWidget(ListBox1, 1);

    setTabOrder(Edit1, changeBut);
    setTabOrder(changeBut, newBut);
    setTabOrder(newBut, Done);
    setTabOrder(Done, ListBox1);

    connect(ListBox1, &QListWidget::itemClicked, this, [this] { ListBox1Click(); });
    // Keyboard moves through the list copy each name but leave the focus in the list.
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] { pickLine(false); });
    connect(changeBut, &QPushButton::clicked, this, [this] { changeButClick(); });
    connect(newBut, &QPushButton::clicked, this, [this] { newButClick(); });
    connect(Done, &QPushButton::clicked, this, [this] { DoneClick(); });
}

void TForm4::FillFieldList() {
    const QSignalBlocker block(ListBox1);
    ListBox1->clear();
    if (!st_.db) return;
    for (const auto& f : st_.db->fields)
        ListBox1->addItem(QString::fromLocal8Bit(f.name));
}

void TForm4::Clear() {
    const QSignalBlocker block(ListBox1);
    ListBox1->clear();
    Edit1->clear();
}

void TForm4::ListBox1Click() {
    pickLine(true);
}

void TForm4::pickLine(bool takeFocus) {
    const QList<QListWidgetItem*> items = ListBox1->selectedItems();
    if (items.isEmpty()) return;
    Edit1->setText(items.first()->text());
    if (takeFocus) Edit1->setFocus();
}

void TForm4::newButClick() {
    if (!st_.db) return;
    const QString text = Edit1->text();
    if (!tandrel::AppendField(*st_.db, text.toLocal8Bit().toStdString())) return;
    ListBox1->addItem(text);
}

void TForm4::changeButClick() {
    if (!st_.db) return;
    const QList<QListWidgetItem*> items = ListBox1->selectedItems();
    if (items.isEmpty()) return;
    QListWidgetItem* item = items.first();
    // Line k stands for field k, so with repeated names the chosen one is renamed.
    const int k = ListBox1->row(item);
    if (k < 0) return;
    const QString text = Edit1->text();
    if (!tandrel::RenameField(*st_.db, static_cast<std::size_t>(k),
                              text.toLocal8Bit().toStdString()))
        return;
    item->setText(text);
}

void TForm4::DoneClick() {
    if (forms_.dBaseEntry) forms_.dBaseEntry->ShowCurrentEntry();
    accept();
}
