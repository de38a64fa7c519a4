#include "AttachWin.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "FileInfo.h"
#include "FileTestForm.h"

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

TAttachForm::TAttachForm(tandrel::AppState& st, tandrel::MainHooks& main, tandrel::Forms& forms,
                         QWidget* parent)
    : QDialog(parent), st_(st), main_(main), forms_(forms) {
    setObjectName(QStringLiteral("TAttachForm"));
    setWindowTitle(QStringLiteral("Attachments"));
    // Sizeable, but with the system menu as its only border icon.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    resize(419, 247);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Attachments"));
    ListView1->setHeaderLabels(
        {QStringLiteral("File"), QStringLiteral("Type"), QStringLiteral("Size")});
    // The file column takes whatever the type and size leave, so all three fit the list
    // without a horizontal scroll bar and a long content type is not cut short.
    QHeaderView* header = ListView1->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(FileColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(TypeColumn, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(SizeColumn, QHeaderView::ResizeToContents);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The selection stays visible when the list loses the focus.
    QPalette pal = ListView1->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    ListView1->setPalette(pal);

    auto* group = new QGroupBox(this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    Edit1 = new QLineEdit(group);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setAccessibleName(QStringLiteral("Attachment path"));
    BrowseBut = MakeButton(QStringLiteral("BrowseBut"), QStringLiteral("Browse..."), group);
    AddButt = MakeButton(QStringLiteral("AddButt"), QStringLiteral("Add"), group);
    Button1 = MakeButton(QStringLiteral("Button1"), QStringLiteral("Remove"), group);
    TestBut = MakeButton(QStringLiteral("TestBut"), QStringLiteral("Test Files..."), group);
    DoneBut = MakeButton(QStringLiteral("DoneBut"), QStringLiteral("Done"), group);
    AddButt->setDefault(true);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(Edit1, 1);
    pathRow->addWidget(BrowseBut);
    pathRow->addWidget(AddButt);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(Button1);
    buttonRow->addWidget(TestBut);
    buttonRow->addStretch(1);
    buttonRow->addWidget(DoneBut);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(pathRow);
    groupLayout->addLayout(buttonRow);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ListView1, 1);
    layout->addWidget(group);

    // Reading order: the list, then the group box row by row.
    setTabOrder(ListView1, Edit1);
    setTabOrder(Edit1, BrowseBut);
    setTabOrder(BrowseBut, AddButt);
    setTabOrder(AddButt, Button1);
    setTabOrder(Button1, TestBut);
    setTabOrder(TestBut, DoneBut);

    OpenDialog1 = new QFileDialog(this, QStringLiteral("Add attachment"));
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);

    connect(BrowseBut, &QPushButton::clicked, this, &TAttachForm::BrowseButClick);
    connect(AddButt, &QPushButton::clicked, this, &TAttachForm::AddButtClick);
    connect(Button1, &QPushButton::clicked, this, &TAttachForm::Button1Click);
    connect(TestBut, &QPushButton::clicked, this, &TAttachForm::TestButClick);
    connect(DoneBut, &QPushButton::clicked, this, &QDialog::accept);
    // Every way of closing ends in finished(): Done, Escape and the close box.
    connect(this, &QDialog::finished, this, [this] { FormClose(); });
}

std::string TAttachForm::RowPath(const QTreeWidgetItem* row) {
    return row->data(FileColumn, kPathRole).toByteArray().toStdString();
}

std::string TAttachForm::decimalSeparator() const {
    return QLocale().decimalPoint().toLocal8Bit().toStdString();
}

void TAttachForm::BrowseButClick() {
    if (OpenDialog1->exec() != QDialog::Accepted) return;
    const QStringList files = OpenDialog1->selectedFiles();
    if (files.isEmpty()) return;
    Edit1->setText(files.first());
}

void TAttachForm::AddButtClick() {
    const QByteArray bytes = Edit1->text().toLocal8Bit();
    if (bytes.isEmpty()) return;
    const std::string path = bytes.toStdString();
    st_.attachments.push_back(tandrel::MakeAttachment(path));

    auto* row = new QTreeWidgetItem(ListView1);
    row->setText(FileColumn, QString::fromLocal8Bit(bytes));
    row->setData(FileColumn, kPathRole, bytes);
    // GetFileInfo gives -1 for missing and unreadable files alike (a path with
    // placeholders included): the row then keeps both columns empty.
    const tandrel::TFileInfo info = tandrel::GetFileInfo(path, decimalSeparator());
    if (info.Size >= 0) {
        row->setText(TypeColumn, QString::fromLocal8Bit(QByteArray::fromStdString(info.TypeText)));
        row->setText(SizeColumn, QString::fromLocal8Bit(QByteArray::fromStdString(info.SizeText)));
    }
}

void TAttachForm::Button1Click() {
    if (st_.attachments.empty()) return;
    QList<QTreeWidgetItem*> rows = ListView1->selectedItems();
    if (rows.isEmpty()) return;
    // Last row first, so the positions of the rows still to come do not move.
    std::sort(rows.begin(), rows.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return ListView1->indexOfTopLevelItem(a) > ListView1->indexOfTopLevelItem(b);
    });
    for (QTreeWidgetItem* row : rows) {
        const std::string path = RowPath(row);
        const auto index = static_cast<std::size_t>(ListView1->indexOfTopLevelItem(row));
        // Row k shows attachment k, so the attachment at the row's own position goes:
        // with a path listed twice, removing the later row must not reorder the list
        // against the rows. Should the two ever disagree, the first attachment of the
        // path goes instead.
        auto it = st_.attachments.end();
        if (index < st_.attachments.size() && st_.attachments[index].path == path)
            it = st_.attachments.begin() + static_cast<std::ptrdiff_t>(index);
        else
            it = std::find_if(st_.attachments.begin(), st_.attachments.end(),
                              [&](const tandrel::Attachment& a) { return a.path == path; });
        if (it != st_.attachments.end()) st_.attachments.erase(it);
        delete row;
    }
}

void TAttachForm::TestButClick() {
    if (st_.attachments.empty() || !forms_.fileTForm) return;
    forms_.fileTForm->exec();
}

void TAttachForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The user usually comes here to type or paste a path.
    Edit1->setFocus();
}

void TAttachForm::FormClose() {
    main_.UpdateStatusBar();
}
