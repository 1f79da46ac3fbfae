#pragma once
#include <QtWidgets/QDialog>

#include "ui/shell/main_window.h"

namespace kerbilo {

class AboutWindow final : public QDialog {
  public:
    AboutWindow(QWidget* owner, const RendererFactory& renderers);
    PictureWidget* picture() const { return picture_; }

  private:
    PictureWidget* picture_ = nullptr;
};

}  // namespace kerbilo
