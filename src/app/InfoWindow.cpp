#include "app/InfoWindow.h"

#include "app/Artwork.h"
#include "app/FixedFrame.h"
#include "framework/StringTable.h"

#include <QKeyEvent>
#include <QPixmap>

namespace kairelon {

const char* TfrmInfo::MakerLine() {
    return "Kairelon " KAIRELON_VERSION " \u00b7 \u00a9 Quarnel Developments";
}

const char* TfrmInfo::WebAddress() {
    return "www.quarnel.example";
}

TfrmInfo::TfrmInfo(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), imgXp(this),
      lblMaker(this), ResLabel1(this), lblWeb(this), btnOkay(this) {
    setWindowTitle(QStringLiteral("Info"));
    setWindowIcon(ProgramIcon());
    setFixedSize(ClientWidth, ClientHeight);
    setModal(true);

    imgXp.setGeometry(8, 4, 320, 30);
    imgXp.setPixmap(QPixmap::fromImage(InfoBanner()));

    lblMaker.setGeometry(8, 45, 321, 17);
    lblMaker.setText(QString::fromUtf8(MakerLine()));

    ResLabel1.setGeometry(8, 70, 321, 56);
    ResLabel1.setWordWrap(true);
    ResLabel1.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ResLabel1.setText(QString::fromUtf8(LoadStr(1050)));
    ResLabel1.setTextInteractionFlags(Qt::TextSelectableByMouse);

    lblWeb.setGeometry(8, 135, 321, 17);
    lblWeb.setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    lblWeb.setText(QString::fromUtf8(WebAddress()));
    QFont underlined = lblWeb.font();
    underlined.setUnderline(true);
    lblWeb.setFont(underlined);
    QPalette blue = lblWeb.palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    lblWeb.setPalette(blue);

    btnOkay.setGeometry(258, 221, 71, 23);
    btnOkay.setText(QStringLiteral("&OK"));
    btnOkay.setDefault(true);
    btnOkay.setAutoDefault(true);
    connect(&btnOkay, &QPushButton::clicked, this, &TfrmInfo::btnOkayClick);
}

void TfrmInfo::keyPressEvent(QKeyEvent* event) {
    // Without a cancel button Escape does nothing; Enter reaches the default button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmInfo::showEvent(QShowEvent* event) {
    // Centred on the screen, not on the owner: the options dialog is usually hidden then.
    CentreOnScreen(*this);
    QDialog::showEvent(event);
}

void TfrmInfo::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    KeepFixedFrame(*this, event);
}

void TfrmInfo::btnOkayClick() {
    accept();
}

void ShowInfoWindow(QWidget* owner) {
    TfrmInfo info(owner);
    info.exec();
}

} // namespace kairelon
