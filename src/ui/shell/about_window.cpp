#include "ui/shell/about_window.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QLabel>

#include "ui/services/qt/qt_text.h"
#include "ui/shell/assets.h"
#include "ui/shell/shell_texts.h"

namespace kerbilo {

namespace {

// The author's pages are not ours to name: the captions look like the links they were, in
// the palette's link colour and underlined, and a click on them opens nothing.
QLabel* link(QWidget* parent, const Text& caption, QRect where) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::RichText);
    label->setText(
        QStringLiteral("<a href=\"#\" style=\"color: %1; text-decoration: underline;\">%2</a>")
            .arg(label->palette().color(QPalette::Link).name(), toQt(caption).toHtmlEscaped()));
    label->setOpenExternalLinks(false);
    label->setGeometry(where);
    return label;
}

}  // namespace

AboutWindow::AboutWindow(QWidget* owner, const RendererFactory& renderers)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(toQt(shell_text::aboutTitle()));
    setModal(true);
    setFixedSize(371, 155);

    picture_ = new PictureWidget(renderers(PictureFit::Stretch), this);
    picture_->setZoomable(false);
    picture_->setGeometry(0, 0, 128, 128);
    picture_->setData(aboutPicture());

    auto* notice = new QLabel(
        toQt(shell_text::aboutNotice()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
        this);
    notice->setObjectName(QStringLiteral("notice"));
    notice->setAutoFillBackground(false);  // a label paints no background of its own
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice->setGeometry(138, 28, 222, 76);
    // Six lines in 76 pixels: the font follows the box, not the desktop's default.
    QFont font = notice->font();
    font.setPixelSize(11);
    notice->setFont(font);

    link(this, shell_text::blogLink(), QRect(233, 109, 63, 16))
        ->setObjectName(QStringLiteral("blog"));
    link(this, shell_text::microBlogLink(), QRect(297, 109, 63, 16))
        ->setObjectName(QStringLiteral("microBlog"));

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

}  // namespace kerbilo
