#ifndef ORVELLA_ABOUTDIALOG_H
#define ORVELLA_ABOUTDIALOG_H

#include <QDialog>

namespace Ui
{
class aboutdialog;
}

// The modeless about box: product icon, name, a one-line description and a
// read-only text about the program. Close only hides it, so it can be shown
// again as it was left.
class aboutdialog : public QDialog
{
    Q_OBJECT

public:
    explicit aboutdialog(QWidget *parent = nullptr);
    ~aboutdialog() override;

private slots:
    void on_btnClose_clicked();

private:
    Ui::aboutdialog *ui;
};

#endif
