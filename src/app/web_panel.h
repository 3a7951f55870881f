// A web panel showing pages shipped inside the program; no network is ever used.
#pragma once

#include <QTextBrowser>

namespace qm {

class WebPanel : public QTextBrowser {
  Q_OBJECT

 public:
  explicit WebPanel(QWidget* parent = nullptr);

  void Navigate(const QUrl& url);
  // The "location name" of the shown page: its title, or the address when it has none.
  QString LocationName() const;

 signals:
  // A page has been loaded and shown; its title is readable now.
  void documentComplete();

 protected:
  void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;
  QVariant loadResource(int type, const QUrl& name) override;
};

}  // namespace qm
