// The viewer's side of culling: marks by key, the shooting-information panel, and deleting
// the shown picture to the trash with undo. Marks and deletions are the browser's; the viewer
// only shows what it says.
#include <QLabel>

#include "MetaWorker.h"
#include "ShootingInfo.h"
#include "Text.h"
#include "view.h"

namespace {

QString FieldsText(const ShootingInfo &info) {
    QStringList lines;
    for (const auto &[caption, value] : ShootingInfoFields(info))
        lines << QString::fromStdString(caption) + QStringLiteral(": ") +
                     QString::fromStdString(value);
    return lines.join('\n');
}

} // namespace

void TviewForm::SetUpCulling() {
    FMetaWorker = new TMetaWorker(this);
    FInfoPanel = new QLabel(Panel2);
    // Over the picture's corner, readable on any picture.
    FInfoPanel->setStyleSheet(
        QStringLiteral("QLabel { background: rgba(0, 0, 0, 170); color: white; padding: 8px; }"));
    FInfoPanel->setTextFormat(Qt::PlainText);
    FInfoPanel->move(0, 0);
    FInfoPanel->setVisible(false);
    FInfoPanel->setAttribute(Qt::WA_TransparentForMouseEvents);

    for (const char key : std::string("0123456789")) {
        const Qt::Key code = Qt::Key(Qt::Key_0 + (key - '0'));
        BindKeys(nullptr, {QKeySequence(code)}, [this, key] { MarkShown(key); });
    }
    BindKeys(nullptr, {QKeySequence(Qt::Key_X)}, [this] { MarkShown('X'); });
    BindKeys(nullptr, {QKeySequence(Qt::Key_I)}, [this] { ToggleShootingInfo(); });
    BindKeys(nullptr, {QKeySequence(Qt::Key_Delete)}, [this] { DeleteShown(); });
    BindKeys(nullptr, {QKeySequence(QKeySequence::Undo)}, [this] { UndoDelete(); });
}

bool TviewForm::MetaBusy() const {
    return FMetaWorker && FMetaWorker->Busy();
}

void TviewForm::ShowCulling(const std::string &path) {
    FCullingPath = path;
    FCaptionBase = Caption();
    const bool full = FBrowser && FBrowser->ShootingInfoShown();
    FInfoPanel->setVisible(full);
    if (full)
        FInfoPanel->setText(QStringLiteral("Reading..."));
    FInfoPanel->adjustSize();
    FMetaWorker->Cancel();
    FMetaWorker->Post([this, path, full] {
        ShootingInfo info;
        if (full)
            info = ReadShootingInfo(path);
        else
            info.Marks = ReadMarks(path);
        return std::function<void()>([this, path, full, info] {
            if (path != FCullingPath)
                return;
            ShowMarksCaption(MarksText(info.Marks));
            if (full) {
                FInfoPanel->setText(FieldsText(info));
                FInfoPanel->adjustSize();
                FInfoPanel->raise();
            }
        });
    });
}

void TviewForm::ShowMarksCaption(const std::string &marks) {
    SetCaption(marks.empty() ? FCaptionBase : FCaptionBase + "  " + marks);
}

void TviewForm::MarkShown(char key) {
    if (!FBrowser || FBrowser->SelectedEntry() < 0 || FCullingPath.empty())
        return;
    FBrowser->MarkSelected(key);
    ShowMarksCaption(FBrowser->SelectedMarksText());
    if (FInfoPanel->isVisible())
        ShowCulling(FCullingPath);
}

void TviewForm::ToggleShootingInfo() {
    if (!FBrowser)
        return;
    FBrowser->SetShootingInfoShown(!FBrowser->ShootingInfoShown());
    if (!FCullingPath.empty())
        ShowCulling(FCullingPath);
}

void TviewForm::DeleteShown() {
    if (!FBrowser)
        return;
    const int index = FBrowser->DeleteSelected();
    if (index < 0)
        return;
    // The next picture shown, wrapping after the last.
    const int count = FBrowser->EntryCount();
    for (int i = 0; i < count; ++i)
        if (FBrowser->EntryShown((index + i) % count)) {
            OpenEntry((index + i) % count);
            return;
        }
    // Nothing left to show: the picture must not stay as if its file were still there.
    FCullingPath.clear();
    RImage1->Picture().SetGraphic(nullptr);
    Close();
}

void TviewForm::UndoDelete() {
    if (FBrowser && FBrowser->UndoDelete() && FBrowser->SelectedEntry() >= 0)
        BtnBrowseClick();
}
