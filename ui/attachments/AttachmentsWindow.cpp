// SPDX-License-Identifier: GPL-3.0-or-later
// The "Attachments" window: adding, removing and testing the files sent with every mail.
#include "ui/attachments/AttachmentsWindow.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/DialogHelp.h"
#include "ui/attachments/FileInfo.h"
#include "ui/attachments/FileTestWindow.h"
#include "ui/ListColumns.h"
#include "ui/PathElision.h"
#include "ui/TextBridge.h"

namespace tandrel {

namespace {

enum Column { FileColumn = 0, TypeColumn = 1, SizeColumn = 2 };
constexpr int kPathRole = Qt::UserRole;

QPushButton* MakeButton(const QString& objectName, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(objectName);
    button->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    return button;
}

} // namespace

AttachmentsWindow::AttachmentsWindow(AppState& st, QWidget* parent) : QDialog(parent), st_(st) {
    fileTest_ = new FileTestWindow(st, parent);
    setObjectName(QStringLiteral("TAttachForm"));
    setWindowTitle(QStringLiteral("Attachments"));
    // Sizeable, but with the system menu as its only border icon.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    resize(419, 247);

    attachmentList = new QTreeWidget(this);
    attachmentList->setObjectName(QStringLiteral("ListView1"));
    attachmentList->setAccessibleName(QStringLiteral("Attachments"));
    attachmentList->setHeaderLabels(
        {QStringLiteral("File"), QStringLiteral("Type"), QStringLiteral("Size")});
    // Every column can be dragged; a long path loses the middle of its folders, keeps its
    // file name in view and shows whole in its tooltip, and the list scrolls sideways
    // when its columns are dragged wider than the list.
    MakeColumnsResizable(*attachmentList);
    attachmentList->setItemDelegateForColumn(FileColumn, new PathItemDelegate(attachmentList));
    attachmentList->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    KeepColumnsFitted(*attachmentList);
    attachmentList->setRootIsDecorated(false);
    attachmentList->setItemsExpandable(false);
    attachmentList->setUniformRowHeights(true);
    attachmentList->setSelectionBehavior(QAbstractItemView::SelectRows);
    attachmentList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    attachmentList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The selection stays visible when the list loses the focus.
    QPalette pal = attachmentList->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    attachmentList->setPalette(pal);

    auto* group = new QGroupBox(this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    pathEdit = new QLineEdit(group);
    pathEdit->setObjectName(QStringLiteral("Edit1"));
    pathEdit->setAccessibleName(QStringLiteral("Attachment path"));
    browseButton = MakeButton(QStringLiteral("BrowseBut"), QStringLiteral("Browse..."), group);
    addButton = MakeButton(QStringLiteral("AddButt"), QStringLiteral("Add"), group);
    removeButton = MakeButton(QStringLiteral("Button1"), QStringLiteral("Remove"), group);
    testButton = MakeButton(QStringLiteral("TestBut"), QStringLiteral("Test Files..."), group);
    doneButton = MakeButton(QStringLiteral("DoneBut"), QStringLiteral("Done"), group);
    addButton->setDefault(true);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathEdit, 1);
    pathRow->addWidget(browseButton);
    pathRow->addWidget(addButton);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(removeButton);
    buttonRow->addWidget(testButton);
    buttonRow->addStretch(1);
    buttonRow->addWidget(doneButton);
    GiveDialogHelp(*this, GuidePage("attachments.html"), *buttonRow);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(pathRow);
    groupLayout->addLayout(buttonRow);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(attachmentList, 1);
    layout->addWidget(group);

    // Reading order: the list, then the group box row by row.
    setTabOrder(attachmentList, pathEdit);
    setTabOrder(pathEdit, browseButton);
    setTabOrder(browseButton, addButton);
    setTabOrder(addButton, removeButton);
    setTabOrder(removeButton, testButton);
    setTabOrder(testButton, doneButton);

    openDialog = new QFileDialog(this, QStringLiteral("Add attachment"));
    openDialog->setObjectName(QStringLiteral("OpenDialog1"));
    openDialog->setFileMode(QFileDialog::ExistingFile);
    openDialog->setAcceptMode(QFileDialog::AcceptOpen);

    connect(browseButton, &QPushButton::clicked, this, &AttachmentsWindow::browse);
    connect(addButton, &QPushButton::clicked, this, &AttachmentsWindow::addAttachment);
    connect(removeButton, &QPushButton::clicked, this,
            &AttachmentsWindow::removeSelectedAttachments);
    connect(testButton, &QPushButton::clicked, this, &AttachmentsWindow::testFiles);
    connect(doneButton, &QPushButton::clicked, this, &QDialog::accept);
    // Every way of closing ends in finished(): Done, Escape and the close box.
    connect(this, &QDialog::finished, this, [this] { onClosed(); });
}

std::string AttachmentsWindow::rowPath(const QTreeWidgetItem* row) {
    return row->data(FileColumn, kPathRole).toByteArray().toStdString();
}

AttachmentsWindow::~AttachmentsWindow() {
    if (!parent()) delete fileTest_;
}

std::string AttachmentsWindow::decimalSeparator() const {
    return Utf8Bytes(QLocale().decimalPoint());
}

void AttachmentsWindow::browse() {
    // Until the user has browsed somewhere, the dialog opens beside the mail in use (the
    // user's documents are rather there than wherever the program was started from).
    const QFileInfo mail(PathText(st_.user.lastMail));
    if (!browsed_ && !st_.user.lastMail.empty() && mail.absoluteDir().exists())
        openDialog->setDirectory(mail.absolutePath());
    browsed_ = true;
    if (openDialog->exec() != QDialog::Accepted) return;
    const QStringList files = openDialog->selectedFiles();
    if (files.isEmpty()) return;
    pathEdit->setText(files.first());
}

void AttachmentsWindow::addAttachment() {
    const std::string path = PathBytes(pathEdit->text());
    if (path.empty()) return;
    st_.attachments.push_back(MakeAttachment(path));

    // The row goes into the list once it is complete: the columns are fitted to the rows
    // as they arrive.
    auto* row = new QTreeWidgetItem;
    row->setText(FileColumn, PathText(path));
    row->setToolTip(FileColumn, row->text(FileColumn));
    row->setData(FileColumn, kPathRole, QByteArray::fromStdString(path));
    // GetFileInfo gives -1 for missing and unreadable files alike (a path with
    // placeholders included): the row then keeps both columns empty.
    const TFileInfo info = GetFileInfo(path, decimalSeparator());
    if (info.Size >= 0) {
        row->setText(TypeColumn, WordsText(info.TypeText));
        row->setText(SizeColumn, WordsText(info.SizeText));
    }
    attachmentList->addTopLevelItem(row);
}

void AttachmentsWindow::removeSelectedAttachments() {
    if (st_.attachments.empty()) return;
    QList<QTreeWidgetItem*> rows = attachmentList->selectedItems();
    if (rows.isEmpty()) return;
    // Last row first, so the positions of the rows still to come do not move.
    std::sort(rows.begin(), rows.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return attachmentList->indexOfTopLevelItem(a) > attachmentList->indexOfTopLevelItem(b);
    });
    for (QTreeWidgetItem* row : rows) {
        const std::string path = rowPath(row);
        const auto index = static_cast<std::size_t>(attachmentList->indexOfTopLevelItem(row));
        // Row k shows attachment k, so the attachment at the row's own position goes:
        // with a path listed twice, removing the later row must not reorder the list
        // against the rows. Should the two ever disagree, the first attachment of the
        // path goes instead.
        auto it = st_.attachments.end();
        if (index < st_.attachments.size() && st_.attachments[index].path == path)
            it = st_.attachments.begin() + static_cast<std::ptrdiff_t>(index);
        else
            it = std::find_if(st_.attachments.begin(), st_.attachments.end(),
                              [&](const Attachment& a) { return a.path == path; });
        if (it != st_.attachments.end()) st_.attachments.erase(it);
        delete row;
    }
}

void AttachmentsWindow::testFiles() {
    if (st_.attachments.empty()) return;
    fileTest_->exec();
}

void AttachmentsWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The user usually comes here to type or paste a path.
    pathEdit->setFocus();
}

void AttachmentsWindow::onClosed() {
    emit closed();
}

} // namespace tandrel
