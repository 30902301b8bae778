// The four buttons that open the asset picker.
#include "app/frmMain.h"
#include "picker/frmFon.h"

namespace {

// The stage's start-up animation goes for good once the scene is being composed.
void retireStartAnimation(anigif::AniGif *gif)
{
    gif->setPlaying(false);
    gif->setVisible(false);
}

} // namespace

void frmMain::Command3_Click()
{
    retireStartAnimation(AniGIF2);
    m_state.PickerMode = QStringLiteral("person");
    Fon()->exec();
}

void frmMain::Command4_Click()
{
    retireStartAnimation(AniGIF2);
    m_state.PickerMode = QStringLiteral("fon");
    Fon()->exec();
}

void frmMain::Command6_Click()
{
    m_state.PickerMode = QStringLiteral("changePerson");
    Fon()->exec();
}

void frmMain::Command12_Click()
{
    retireStartAnimation(AniGIF2);
    m_state.PickerMode = QStringLiteral("articles");
    Fon()->exec();
}

frmFon *frmMain::Fon()
{
    if (!m_fon)
        m_fon = new frmFon(this);
    return m_fon;
}
