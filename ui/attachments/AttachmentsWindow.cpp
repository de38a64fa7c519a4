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

    attachmentList_ = new QTreeWidget(this);
    attachmentList_->setObjectName(QStringLiteral("ListView1"));
    attachmentList_->setAccessibleName(QStringLiteral("Attachments"));
    attachmentList_->setHeaderLabels(
        {QStringLiteral("File"), QStringLiteral("Type"), QStringLiteral("Size")});
    // Every column can be dragged; a long path loses the middle of its folders, keeps its
    // file name in view and shows whole in its tooltip, and the list scrolls sideways
    // when its columns are dragged wider than the list.
    MakeColumnsResizable(*attachmentList_);
    attachmentList_->setItemDelegateForColumn(FileColumn, new PathItemDelegate(attachmentList_));
    attachmentList_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    KeepColumnsFitted(*attachmentList_);
    attachmentList_->setRootIsDecorated(false);
    attachmentList_->setItemsExpandable(false);
    attachmentList_->setUniformRowHeights(true);
    attachmentList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    attachmentList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    attachmentList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The selection stays visible when the list loses the focus.
    QPalette pal = attachmentList_->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    attachmentList_->setPalette(pal);

    auto* group = new QGroupBox(this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    pathEdit_ = new QLineEdit(group);
    pathEdit_->setObjectName(QStringLiteral("Edit1"));
    pathEdit_->setAccessibleName(QStringLiteral("Attachment path"));
    browseButton_ = MakeButton(QStringLiteral("BrowseBut"), QStringLiteral("Browse..."), group);
    addButton_ = MakeButton(QStringLiteral("AddButt"), QStringLiteral("Add"), group);
    removeButton_ = MakeButton(QStringLiteral("Button1"), QStringLiteral("Remove"), group);
    testButton_ = MakeButton(QStringLiteral("TestBut"), QStringLiteral("Test Files..."), group);
    doneButton_ = MakeButton(QStringLiteral("DoneBut"), QStringLiteral("Done"), group);
    addButton_->setDefault(true);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathEdit_, 1);
    pathRow->addWidget(browseButton_);
    pathRow->addWidget(addButton_);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(removeButton_);
    buttonRow->addWidget(testButton_);
    buttonRow->addStretch(1);
    buttonRow->addWidget(doneButton_);
    GiveDialogHelp(*this, GuidePage("attachments.html"), *buttonRow);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(pathRow);
    groupLayout->addLayout(buttonRow);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(attachmentList_, 1);
    layout->addWidget(group);

    // Reading order: the list, then the group box row by row.
    setTabOrder(attachmentList_, pathEdit_);
    setTabOrder(pathEdit_, browseButton_);
    setTabOrder(browseButton_, addButton_);
    setTabOrder(addButton_, removeButton_);
    setTabOrder(removeButton_, testButton_);
    setTabOrder(testButton_, doneButton_);

    openDialog_ = new QFileDialog(this, QStringLiteral("Add attachment"));
    openDialog_->setObjectName(QStringLiteral("OpenDialog1"));
    openDialog_->setFileMode(QFileDialog::ExistingFile);
    openDialog_->setAcceptMode(QFileDialog::AcceptOpen);

    connect(browseButton_, &QPushButton::clicked, this, &AttachmentsWindow::browse);
    connect(addButton_, &QPushButton::clicked, this, &AttachmentsWindow::addAttachment);
    connect(removeButton_, &QPushButton::clicked, this,
            &AttachmentsWindow::removeSelectedAttachments);
    connect(testButton_, &QPushButton::clicked, this, &AttachmentsWindow::testFiles);
    connect(doneButton_, &QPushButton::clicked, this, &QDialog::accept);
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
        openDialog_->setDirectory(mail.absolutePath());
    browsed_ = true;
    if (openDialog_->exec() != QDialog::Accepted) return;
    const QStringList files = openDialog_->selectedFiles();
    if (files.isEmpty()) return;
    pathEdit_->setText(files.first());
}

void AttachmentsWindow::addAttachment() {
    const std::string path = PathBytes(pathEdit_->text());
    if (path.empty()) return;
    st_.attachments.push_back(MakeAttachment(path));

    // The row goes into the list once it is complete: the columns are fitted to the rows
    // as they arrive.
    auto* row = new QTreeWidgetItem;
    row->setText(FileColumn, PathText(path));
    row->setToolTip(FileColumn, row->text(FileColumn));
    row->setData(FileColumn, kPathRole, QByteArray::fromStdString(path));
    // ExamineFile gives -1 for missing and unreadable files alike (a path with
    // placeholders included): the row then keeps both columns empty.
    const ExaminedFile info = ExamineFile(path, decimalSeparator());
    if (info.size >= 0) {
        row->setText(TypeColumn, WordsText(info.typeText));
        row->setText(SizeColumn, WordsText(info.sizeText));
    }
    attachmentList_->addTopLevelItem(row);
}

void AttachmentsWindow::removeSelectedAttachments() {
    if (st_.attachments.empty()) return;
    QList<QTreeWidgetItem*> rows = attachmentList_->selectedItems();
    if (rows.isEmpty()) return;
    // Last row first, so the positions of the rows still to come do not move.
    std::sort(rows.begin(), rows.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return attachmentList_->indexOfTopLevelItem(a) > attachmentList_->indexOfTopLevelItem(b);
    });
    for (QTreeWidgetItem* row : rows) {
        const std::string path = rowPath(row);
        const auto index = static_cast<std::size_t>(attachmentList_->indexOfTopLevelItem(row));
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
    pathEdit_->setFocus();
}

void AttachmentsWindow::onClosed() {
    emit closed();
}

} // namespace tandrel
