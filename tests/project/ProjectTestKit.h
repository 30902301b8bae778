#pragma once
// A scene built through the main window's own handlers, for the tests of saving and opening projects.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QTest>
#include <QToolButton>

#include "../picker/PickerTestKit.h"
#include "Program.h"
#include "TestCommon.h"
#include "controls/Twips.h"
#include "picker/Placing.h"
#include "slides/StageCapture.h"

namespace {

using testcommon::Program;

QImage stage(Program &p)
{
    return slides::captureStage(p.main->Picture7->client());
}

// A scene with overlapping objects in a chosen order, moved, sized and stepped through the window's own
// handlers, a deleted character, changed settings and a few slides.
void buildScene(Program &p)
{
    using namespace pickerkit;
    frmMain &m = *p.main;
    const QString objects = assetFolder(p, "objects");
    testcommon::writeSimpleGif(objects, "cat.gif", QSize(60, 50), 6);
    testcommon::writeSimpleGif(objects, "Пёс.gif", QSize(50, 40), 1);
    const QString articles = assetFolder(p, "articles");
    colourGif(articles, "ball.gif", QSize(40, 30), Qt::red);
    picture(articles, "box.png", QSize(70, 20), Qt::magenta, "PNG");
    const QString fones = assetFolder(p, "fones");
    testcommon::stageSlide(5).scaled(500, 400).save(QDir(fones).filePath("sky.jpg"), "JPG");

    m.AniGIF2->setPlaying(false);
    m.AniGIF2->hide();
    // Nothing selected: the arrows move and grow the template, where new characters appear.
    m.UpDown5->upButton()->click();
    m.UpDown7_UpClick();
    using picker::placeAsset;
    QCOMPARE(placeAsset(m, "fon", fones, "sky.jpg"), picker::Placed::Background);
    QCOMPARE(placeAsset(m, "person", objects, "cat.gif"), picker::Placed::Character);
    QCOMPARE(placeAsset(m, "articles", articles, "ball.gif"), picker::Placed::Prop);
    QCOMPARE(placeAsset(m, "person", objects, "Пёс.gif"), picker::Placed::Character);
    QCOMPARE(placeAsset(m, "person", objects, "cat.gif"), picker::Placed::Character);
    QCOMPARE(placeAsset(m, "articles", articles, "box.png"), picker::Placed::Prop);

    // The third character goes again: the counter stays ahead of the list.
    m.List1->setCurrentRow(4);
    m.Command5_Click();
    m.UpDown3->setValue(m.UpDown3->minimum() / 2);
    m.List1->setCurrentRow(0);
    m.UpDown5->upButton()->click();
    m.UpDown7_UpClick();
    m.DoPicture();
    m.DoPicture();
    m.SaveBuffer();
    twips::move(m.Image1.at(1), 1200, 900);
    twips::move(m.AniGIF1.at(2), 1000, 700);
    m.AniGIF1.at(2)->setPlaying(true);
    m.AniGIF1.at(1)->raise();
    m.SaveBuffer();
    m.List1->setCurrentRow(0);
    m.Combo1->setCurrentText("400");
    m.Combo1_Click();
    m.Check1->setChecked(true);
    m.Check3->setChecked(true);
    p.state.PreviewRate = 7;
    m.SaveBuffer();
}

} // namespace
