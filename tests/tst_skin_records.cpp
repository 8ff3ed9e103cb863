// The custom elements accept only their own option records. A record of another kind (a plain
// Qt record with the same type tag, or another of the library's records) reaches the drawing
// as null and nothing is drawn; under the sanitizers a record read past its end would be
// reported here.
#include "host/VuComboBox.h"
#include "host/VuToolButton.h"
#include "skin/PhotoStyle.h"
#include "skin/VuSkinOptionRoot.h"
#include "skin/VuStyleOptions.h"

#include <QtTest>

#include <QPainter>
#include <QStyleFactory>

#include <memory>

using namespace skin;
using namespace host;

namespace {

enum class Element {
    RadioButton,
    CheckBox,
    PushButton,
    ComboBox,
    ToolButton,
    Slider,
    ShadowBorder
};

enum class Record {
    QtButton,
    QtComboBox,
    QtToolButton,
    QtSlider,
    QtComplex,
    QtOption,
    VuRadioButton,
    VuCheckBox,
    VuPushButton,
    VuComboBox,
    VuToolButton,
    VuSlider,
    VuShadowBorder
};

bool isComplex(Record record)
{
    switch (record) {
    case Record::QtComboBox:
    case Record::QtToolButton:
    case Record::QtSlider:
    case Record::QtComplex:
    case Record::VuComboBox:
    case Record::VuToolButton:
    case Record::VuSlider:
        return true;
    default:
        return false;
    }
}

// A record on the heap in an allocation of exactly its own size, so that a read past its end
// is caught. QStyleOption has no virtual destructor: the shared pointer deletes the record as
// what it is.
template <typename Record> std::shared_ptr<Record> exactly()
{
    return std::shared_ptr<Record>(new Record);
}

std::shared_ptr<QStyleOption> makeRecord(Record record, VuSkinOptionRoot *root)
{
    std::shared_ptr<QStyleOption> opt;
    switch (record) {
    case Record::QtButton:
        opt = exactly<QStyleOptionButton>();
        break;
    case Record::QtComboBox:
        opt = exactly<QStyleOptionComboBox>();
        break;
    case Record::QtToolButton:
        opt = exactly<QStyleOptionToolButton>();
        break;
    case Record::QtSlider:
        opt = exactly<QStyleOptionSlider>();
        break;
    case Record::QtComplex:
        opt = exactly<QStyleOptionComplex>();
        break;
    case Record::QtOption:
        opt = exactly<QStyleOption>();
        break;
    case Record::VuRadioButton:
        opt = exactly<VuStyleOptionRadioButton>();
        break;
    case Record::VuCheckBox:
        opt = exactly<VuStyleOptionCheckBox>();
        break;
    case Record::VuPushButton: {
        auto button = exactly<VuStyleOptionPushButton>();
        button->skinOption = root->pushButtonTextStrong();
        opt = std::move(button);
        break;
    }
    case Record::VuComboBox:
        opt = exactly<VuStyleOptionComboBox>();
        break;
    case Record::VuToolButton:
        opt = exactly<VuStyleOptionToolButton>();
        break;
    case Record::VuSlider:
        opt = exactly<VuStyleOptionSlider>();
        break;
    case Record::VuShadowBorder: {
        auto shadow = exactly<VuStyleOptionShadowBorder>();
        shadow->drawShadow = true;
        opt = std::move(shadow);
        break;
    }
    }
    opt->rect = QRect(0, 0, 60, 24);
    opt->state = QStyle::State_Enabled;
    if (auto *button = qstyleoption_cast<QStyleOptionButton *>(opt.get()))
        button->text = QStringLiteral("Label");
    if (auto *combo = qstyleoption_cast<QStyleOptionComboBox *>(opt.get()))
        combo->currentText = QStringLiteral("Label");
    if (auto *tool = qstyleoption_cast<QStyleOptionToolButton *>(opt.get()))
        tool->arrowType = Qt::DownArrow;
    if (auto *complex = qstyleoption_cast<QStyleOptionComplex *>(opt.get()))
        complex->subControls = QStyle::SC_All;
    if (auto *slider = qstyleoption_cast<QStyleOptionSlider *>(opt.get())) {
        slider->maximum = 100;
        slider->sliderPosition = slider->sliderValue = 50;
    }
    return opt;
}

} // namespace

Q_DECLARE_METATYPE(Element)
Q_DECLARE_METATYPE(Record)

class TestSkinRecords : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void onlyOwnRecordDraws_data();
    void onlyOwnRecordDraws();

private:
    std::unique_ptr<PhotoStyle> m_style;
};

void TestSkinRecords::initTestCase()
{
    m_style = std::make_unique<PhotoStyle>(QStyleFactory::create(QStringLiteral("Fusion")));
    m_style->init(QString(), QStringLiteral("zh_CN"), 1.99);
    QVERIFY(m_style->setSkin(QString()));
}

void TestSkinRecords::onlyOwnRecordDraws_data()
{
    QTest::addColumn<Element>("element");
    QTest::addColumn<Record>("record");
    QTest::addColumn<bool>("drawn");

    const struct
    {
        const char *name;
        Element element;
        Record own;
        QVector<Record> foreign;
    } elements[] = {
        {"radio button",
         Element::RadioButton,
         Record::VuRadioButton,
         {Record::QtButton, Record::QtOption, Record::VuCheckBox, Record::VuPushButton}},
        {"check box",
         Element::CheckBox,
         Record::VuCheckBox,
         {Record::QtButton, Record::QtOption, Record::VuRadioButton, Record::VuPushButton}},
        {"push button",
         Element::PushButton,
         Record::VuPushButton,
         {Record::QtButton, Record::QtOption, Record::VuRadioButton, Record::VuCheckBox}},
        {"combo box",
         Element::ComboBox,
         Record::VuComboBox,
         {Record::QtComboBox, Record::QtComplex, Record::VuToolButton, Record::VuSlider}},
        {"tool button",
         Element::ToolButton,
         Record::VuToolButton,
         {Record::QtToolButton, Record::QtComplex, Record::VuComboBox, Record::VuSlider}},
        {"slider",
         Element::Slider,
         Record::VuSlider,
         {Record::QtSlider, Record::QtComplex, Record::VuComboBox, Record::VuToolButton}},
        {"shadow border",
         Element::ShadowBorder,
         Record::VuShadowBorder,
         {Record::QtOption, Record::QtButton, Record::VuPushButton}},
    };
    const char *const recordNames[] = {
        "Qt button",   "Qt combo box",  "Qt tool button", "Qt slider",   "Qt complex",
        "Qt option",   "radio record",  "check record",   "push record", "combo record",
        "tool record", "slider record", "shadow record"};
    for (const auto &e : elements) {
        QTest::addRow("%s, own record", e.name) << e.element << e.own << true;
        for (Record foreign : e.foreign)
            QTest::addRow("%s, %s", e.name, recordNames[int(foreign)])
                << e.element << foreign << false;
    }
}

void TestSkinRecords::onlyOwnRecordDraws()
{
    QFETCH(Element, element);
    QFETCH(Record, record);
    QFETCH(bool, drawn);

    VuComboBox combo;
    combo.setFilledLook(true);
    combo.resize(60, 24);
    VuToolButton tool;
    tool.setMenuAreaWidth(16);
    tool.resize(60, 24);

    const std::shared_ptr<QStyleOption> opt = makeRecord(record, m_style->options());
    const auto *complex =
        isComplex(record) ? static_cast<QStyleOptionComplex *>(opt.get()) : nullptr;
    const QColor page(0x80, 0x80, 0x80);
    QImage image(opt->rect.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(page);
    QPainter p(&image);
    switch (element) {
    case Element::RadioButton:
        m_style->drawControl(CE_VuRadioButton, opt.get(), &p, nullptr);
        break;
    case Element::CheckBox:
        m_style->drawControl(CE_VuCheckBox, opt.get(), &p, nullptr);
        break;
    case Element::PushButton:
        m_style->drawControl(CE_VuPushButton, opt.get(), &p, nullptr);
        break;
    case Element::ComboBox:
        QVERIFY(complex);
        m_style->drawComplexControl(CC_VuComboBox, complex, &p, &combo);
        break;
    case Element::ToolButton:
        QVERIFY(complex);
        m_style->drawComplexControl(CC_VuToolButton, complex, &p, &tool);
        break;
    case Element::Slider:
        QVERIFY(complex);
        m_style->drawComplexControl(CC_VuSlider, complex, &p, nullptr);
        break;
    case Element::ShadowBorder:
        m_style->drawPrimitive(PE_VuShadowBorder, opt.get(), &p, nullptr);
        break;
    }
    p.end();

    QImage untouched(image.size(), image.format());
    untouched.fill(page);
    QCOMPARE(image != untouched, drawn);
}

QTEST_MAIN(TestSkinRecords)
#include "tst_skin_records.moc"
