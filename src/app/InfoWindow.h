// The info window: a small modal about box opened from the tray menu.
//
// `TfrmInfo` has the caption "Info", a fixed client area of 336 x 252 pixels, centred on the
// screen, and no close, minimise or maximise box; it shows a banner, the maker line, the support
// notice (string 1050, word-wrapped) and the maker's web address (blue, underlined, no click
// action). Only the OK button or Enter closes it; Escape does not. `mnuInfoClick` creates it anew
// for each showing and frees it after.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace kairelon {

class TfrmInfo : public QDialog {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 336;  // pixels
    static constexpr int ClientHeight = 252; // pixels

    static const char* MakerLine();
    static const char* WebAddress();

    explicit TfrmInfo(QWidget* owner = nullptr);

    QLabel imgXp;
    QLabel lblMaker;
    QLabel ResLabel1;
    QLabel lblWeb;
    QPushButton btnOkay;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void btnOkayClick();
};

// Creates the info window owned by `owner`, shows it modally and frees it when it closes.
void ShowInfoWindow(QWidget* owner);

} // namespace kairelon
