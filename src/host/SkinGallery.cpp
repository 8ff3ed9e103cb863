#include "host/SkinGallery.h"

#include "host/VuComboBox.h"
#include "host/VuLineEdit.h"
#include "host/VuMenu.h"
#include "host/VuPushButton.h"
#include "host/VuToolButton.h"
#include "skin/PhotoOptionRoot.h"
#include "skin/VuSkinOptionRoot.h"
#include "skin/VuSkinResourceLoader.h"
#include "skin/VuSkinStyle.h"
#include "skin/VuStyleHelper.h"
#include "skin/VuStyleOptions.h"

#include <QApplication>
#include <QPainter>

#include <iterator>

namespace host {

using namespace skin;

namespace {

const char *const kRowNames[] = {"Push button",  "Strong button", "Save button",     "Check box",
                                 "Radio button", "Line edit",     "Combo, filled",   "Combo, plain",
                                 "Menu item",    "Scroll bar",    "Slider, skinned", "Slider",
                                 "Spin box",     "Tool button"};
const char *const kColumnNames[] = {"normal", "hovered",  "pressed",
                                    "on",     "disabled", "disabled hov."};
static_assert(std::size(kRowNames) == SkinGallery::RowCount);
static_assert(std::size(kColumnNames) == SkinGallery::ColumnCount);

int scaled(int value)
{
    return qRound(dpiScaled(value));
}

int widest(const QFontMetrics &metrics, const char *const *texts, int count)
{
    int width = 0;
    for (int i = 0; i < count; ++i)
        width = qMax(width, metrics.horizontalAdvance(QString::fromLatin1(texts[i])));
    return width;
}

QFontMetrics galleryMetrics()
{
    return QFontMetrics(QApplication::font());
}

// A control of the cell in `state`; disabled controls take the palette's disabled colours,
// as a disabled widget's palette does.
template <typename Option> void initCommon(Option *opt, const QWidget *w, QStyle::State state)
{
    opt->initFrom(w);
    opt->rect = QRect(QPoint(0, 0), SkinGallery::controlSize());
    opt->state = state;
    opt->palette.setCurrentColorGroup((state & QStyle::State_Enabled) ? QPalette::Active
                                                                      : QPalette::Disabled);
}

} // namespace

SkinGallery::SkinGallery(QWidget *parent)
    : QWidget(parent), m_button(new VuPushButton(this)), m_filledCombo(new VuComboBox(this)),
      m_plainCombo(new VuComboBox(this)), m_menu(new VuMenu(this)),
      m_toolButton(new VuToolButton(this)), m_lineEdit(new VuLineEdit(this))
{
    m_button->setXRadius(4);
    m_button->setYRadius(4);
    m_filledCombo->setFilledLook(true);
    m_toolButton->setMenuAreaWidth(scaled(16));
    for (QWidget *standIn : std::initializer_list<QWidget *>{m_button, m_filledCombo, m_plainCombo,
                                                             m_menu, m_toolButton, m_lineEdit}) {
        standIn->resize(controlSize());
        standIn->hide();
    }
    // The menu item is drawn as in a menu: the stand-in menu holds the panel's margin too.
    const int panel = style()->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, m_menu);
    m_menu->resize(controlSize() + QSize(2 * panel, 0));
    setFixedSize(gallerySize());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
}

SkinGallery::~SkinGallery() = default;

QString SkinGallery::rowName(Row row)
{
    return QString::fromLatin1(kRowNames[row]);
}

QString SkinGallery::columnName(Column column)
{
    return QString::fromLatin1(kColumnNames[column]);
}

QSize SkinGallery::controlSize()
{
    const QFontMetrics metrics = galleryMetrics();
    // Room for a sample text beside a check box's indicator or a combo box's arrow, and for
    // a line of text with some air above and below.
    const int text = metrics.horizontalAdvance(QStringLiteral("Button"));
    return QSize(qMax(scaled(124), text + scaled(72)),
                 qMax(scaled(24), metrics.height() + scaled(8)));
}

int SkinGallery::labelWidth()
{
    return widest(galleryMetrics(), kRowNames, RowCount) + scaled(24);
}

int SkinGallery::headerHeight()
{
    return galleryMetrics().height() + scaled(8);
}

QSize SkinGallery::cellSize()
{
    const QSize control = controlSize();
    const int heading = widest(galleryMetrics(), kColumnNames, ColumnCount) + scaled(12);
    return QSize(qMax(control.width() + scaled(16), heading), control.height() + scaled(12));
}

QSize SkinGallery::gallerySize()
{
    const QSize cell = cellSize();
    const QRect lastShadow = shadowWindowRect(1);
    return QSize(labelWidth() + ColumnCount * cell.width(), lastShadow.bottom() + 1 + scaled(30));
}

QRect SkinGallery::controlRect(Row row, Column column)
{
    const QSize cell = cellSize(), control = controlSize();
    const QPoint corner(labelWidth() + column * cell.width(), headerHeight() + row * cell.height());
    return QRect(corner + QPoint((cell.width() - control.width()) / 2,
                                 (cell.height() - control.height()) / 2),
                 control);
}

QRect SkinGallery::shadowWindowRect(int index)
{
    const QSize cell = cellSize();
    const int top = headerHeight() + RowCount * cell.height() + scaled(20);
    return QRect(labelWidth() + scaled(20) + index * 3 * cell.width(), top, 2 * cell.width(),
                 scaled(120));
}

QStyle::State SkinGallery::stateOf(Column column)
{
    switch (column) {
    case Hovered:
        return QStyle::State_Enabled | QStyle::State_MouseOver;
    case Pressed:
        return QStyle::State_Enabled | QStyle::State_MouseOver | QStyle::State_Sunken;
    case On:
        return QStyle::State_Enabled | QStyle::State_On;
    case Disabled:
        return QStyle::State_None;
    case DisabledHovered:
        return QStyle::State_MouseOver;
    default:
        return QStyle::State_Enabled;
    }
}

void SkinGallery::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const QSize cell = cellSize();
    for (int c = 0; c < ColumnCount; ++c)
        p.drawText(QRect(labelWidth() + c * cell.width(), 0, cell.width(), headerHeight()),
                   Qt::AlignCenter, columnName(Column(c)));
    for (int r = 0; r < RowCount; ++r) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(scaled(8), headerHeight() + r * cell.height(), labelWidth() - scaled(8),
                         cell.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, rowName(Row(r)));
        for (int c = 0; c < ColumnCount; ++c) {
            p.save();
            p.translate(controlRect(Row(r), Column(c)).topLeft());
            paintControl(&p, Row(r), stateOf(Column(c)));
            p.restore();
        }
    }
    paintShadows(&p);
}

void SkinGallery::paintControl(QPainter *p, Row row, QStyle::State state) const
{
    QStyle *st = style();
    auto *skinStyle = qobject_cast<VuSkinStyle *>(st);
    VuSkinOptionRoot *root = skinStyle ? skinStyle->options() : nullptr;
    const bool on = state & QStyle::State_On;

    switch (row) {
    case PushButton:
    case PushButtonStrong:
    case PushButtonSave: {
        VuStyleOptionPushButton opt;
        initCommon(&opt, m_button, state);
        opt.text = QStringLiteral("Button");
        opt.font = font();
        if (root) {
            opt.skinOption = row == PushButton         ? root->pushButton()
                             : row == PushButtonStrong ? root->pushButtonTextStrong()
                                                       : nullptr;
            if (auto *photo = qobject_cast<PhotoOptionRoot *>(root); photo && !opt.skinOption)
                opt.skinOption = photo->pvMattingSaveBtn();
        }
        st->drawControl(CE_VuPushButton, &opt, p, m_button);
        break;
    }
    case CheckBox:
        drawIndicator<VuStyleOptionCheckBox>(p, CE_VuCheckBox, QStringLiteral("Check"), state);
        break;
    case RadioButton:
        drawIndicator<VuStyleOptionRadioButton>(p, CE_VuRadioButton, QStringLiteral("Radio"),
                                                state);
        break;
    case LineEdit: {
        QStyleOptionFrame opt;
        initCommon(&opt, m_lineEdit, state);
        if (state & (QStyle::State_Sunken | QStyle::State_On)) opt.state |= QStyle::State_HasFocus;
        opt.lineWidth = 1;
        st->drawPrimitive(QStyle::PE_PanelLineEdit, &opt, p, m_lineEdit);
        break;
    }
    case ComboBoxFilled:
    case ComboBoxPlain: {
        VuComboBox *combo = row == ComboBoxFilled ? m_filledCombo : m_plainCombo;
        VuStyleOptionComboBox opt;
        initCommon(&opt, combo, state);
        opt.currentText = QStringLiteral("100%");
        opt.font = font();
        if (skinStyle && skinStyle->resourceLoader())
            opt.arrowIcon = skinStyle->resourceLoader()->loadIcon(QStringLiteral("combobox-arrow"));
        st->drawComplexControl(CC_VuComboBox, &opt, p, combo);
        break;
    }
    case MenuItem: {
        VuStyleOptionMenuItem opt;
        initCommon(&opt, m_menu, state & ~(QStyle::State_MouseOver | QStyle::State_Sunken));
        if (state & (QStyle::State_MouseOver | QStyle::State_Sunken))
            opt.state |= QStyle::State_Selected;
        opt.text = QStringLiteral("Open\tF3");
        opt.menuItemType = QStyleOptionMenuItem::Normal;
        opt.checkType = QStyleOptionMenuItem::NonExclusive;
        opt.checked = on;
        opt.menuHasCheckableItems = true;
        opt.tabWidth = fontMetrics().horizontalAdvance(QStringLiteral("F3"));
        opt.font = font();
        opt.skinOption = root ? root->menuItem() : nullptr;
        opt.greyWhenDisabled = true;
        // Laid out as in a menu, where items start inside the panel's margin.
        const int panel = st->pixelMetric(QStyle::PM_MenuPanelWidth, nullptr, m_menu);
        opt.rect.translate(panel, 0);
        p->translate(-panel, 0);
        p->setClipRect(opt.rect);
        st->drawControl(QStyle::CE_MenuItem, &opt, p, m_menu);
        break;
    }
    case ScrollBar: {
        QStyleOptionSlider opt;
        initCommon(&opt, this, state);
        opt.rect.setHeight(st->pixelMetric(QStyle::PM_ScrollBarExtent));
        opt.orientation = Qt::Horizontal;
        opt.state |= QStyle::State_Horizontal;
        opt.minimum = 0;
        opt.maximum = 90;
        opt.pageStep = 30;
        opt.sliderPosition = opt.sliderValue = on ? 90 : 30;
        opt.subControls = QStyle::SC_All;
        opt.activeSubControls = QStyle::SC_ScrollBarSlider;
        st->drawComplexControl(QStyle::CC_ScrollBar, &opt, p, nullptr);
        break;
    }
    case SliderSkinned:
    case SliderBuiltIn: {
        VuStyleOptionSlider opt;
        initCommon(&opt, this, state);
        opt.orientation = Qt::Horizontal;
        opt.state |= QStyle::State_Horizontal;
        opt.minimum = 0;
        opt.maximum = 100;
        opt.sliderPosition = opt.sliderValue = on ? 80 : 40;
        opt.subControls = QStyle::SC_All;
        opt.skinOption = row == SliderSkinned && root ? root->peSlider() : nullptr;
        opt.centerMark = row == SliderSkinned;
        st->drawComplexControl(CC_VuSlider, &opt, p, nullptr);
        break;
    }
    case SpinBox: {
        QStyleOptionSpinBox opt;
        initCommon(&opt, this, state);
        opt.frame = true;
        opt.subControls = QStyle::SC_All;
        opt.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
        opt.buttonSymbols = QAbstractSpinBox::UpDownArrows;
        opt.activeSubControls = on ? QStyle::SC_SpinBoxDown : QStyle::SC_SpinBoxUp;
        if (on) opt.state |= QStyle::State_Sunken;
        st->drawComplexControl(QStyle::CC_SpinBox, &opt, p, nullptr);
        break;
    }
    case ToolButton: {
        VuStyleOptionToolButton opt;
        initCommon(&opt, m_toolButton, state);
        opt.text = QStringLiteral("Tools");
        opt.font = font();
        opt.toolButtonStyle = Qt::ToolButtonTextOnly;
        opt.arrowType = Qt::DownArrow;
        opt.subControls = QStyle::SC_ToolButton | QStyle::SC_ToolButtonMenu;
        // The button clears its rectangle to transparent; let it do so on a layer of its own.
        QImage layer(controlSize(), QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        QPainter layerPainter(&layer);
        st->drawComplexControl(CC_VuToolButton, &opt, &layerPainter, m_toolButton);
        layerPainter.end();
        p->drawImage(0, 0, layer);
        break;
    }
    case RowCount:
        break;
    }
}

template <typename Record>
void SkinGallery::drawIndicator(QPainter *p, QStyle::ControlElement element, const QString &text,
                                QStyle::State state) const
{
    Record opt;
    initCommon(&opt, this, state & ~QStyle::State_On);
    opt.state |= (state & QStyle::State_On) ? QStyle::State_On : QStyle::State_Off;
    opt.text = text;
    style()->drawControl(element, &opt, p, nullptr);
}

void SkinGallery::paintShadows(QPainter *p) const
{
    p->setPen(palette().color(QPalette::WindowText));
    p->drawText(
        QRect(scaled(8), shadowWindowRect(0).top(), labelWidth() - scaled(8), cellSize().height()),
        Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Window shadow"));
    for (int i = 0; i < 2; ++i) {
        const int margin = scaled(10);
        const QRect window = shadowWindowRect(i);
        VuStyleOptionShadowBorder opt;
        opt.initFrom(this);
        opt.rect = QRect(QPoint(0, 0), window.size() + QSize(2 * margin, 2 * margin));
        opt.outlineRect = opt.rect.adjusted(margin, margin, -margin, -margin);
        opt.drawShadow = true;
        opt.shadowWidth = margin;
        opt.bandHeight = scaled(24);
        opt.twoToneOutline = i == 0;
        opt.plainOutline = i == 1;
        opt.opacity = i == 0 ? 1.0 : 0.5;
        p->save();
        p->translate(window.topLeft() - QPoint(margin, margin));
        style()->drawPrimitive(PE_VuShadowBorder, &opt, p, nullptr);
        p->restore();
    }
}

} // namespace host
