#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>

// The application's one dark look. Pages never set colours themselves: they set object names and
// the "class" / "active" properties that these rules select on. Every focusable control has a
// :focus rule that keeps its outer size; the unchecked check box's border (#6e7681) has a contrast
// of 3.5:1 against the card it sits on.
namespace Theme {

inline const QString STYLE_SHEET = QStringLiteral(R"CSS(
QWidget {
    background-color: #0d1117;
    color: #e0e4ea;
    font-family: "Segoe UI", "Inter", system-ui, sans-serif;
    font-size: 13px;
}
#sidebar {
    background-color: #161b22;
    border-right: 1px solid #262c37;
    min-width: 220px;
    max-width: 220px;
}
#sidebar QLabel {
    background: transparent;
}
#sidebarBrand {
    font-size: 15px;
    font-weight: bold;
    color: #e0e4ea;
    padding: 0;
    background: transparent;
    letter-spacing: -0.3px;
}
QPushButton[class="nav"] {
    text-align: left;
    padding: 9px 12px;
    border: none;
    border-radius: 8px;
    color: #8892a0;
    font-size: 13px;
    font-weight: 500;
    background: transparent;
}
QPushButton[class="nav"]:hover {
    background-color: #252c38;
    color: #e0e4ea;
}
QPushButton[class="nav"][active="true"] {
    background-color: rgba(77,143,209,0.12);
    color: #6ba3e0;
}
QPushButton[class="nav"]:focus {
    outline: none;
    border: 2px solid #6ba3e0;
    padding: 7px 10px;
}
#sidebarFooter {
    border-top: 1px solid #262c37;
    padding: 12px 18px;
    font-size: 11px;
    color: #5b6472;
    background: transparent;
}
#content {
    background-color: #0d1117;
}
QFrame[class="card"] {
    background-color: #1c2129;
    border: 1px solid #262c37;
    border-radius: 12px;
    padding: 20px;
}
QFrame[class="card"]:hover {
    border: 1px solid #4d8fd1;
}
QPushButton[class="primary"] {
    background-color: #4d8fd1;
    color: #ffffff;
    border: none;
    border-radius: 8px;
    padding: 8px 16px;
    font-weight: 600;
    font-size: 13px;
}
QPushButton[class="primary"]:hover {
    background-color: #6ba3e0;
}
QPushButton[class="primary"]:focus {
    outline: none;
    border: 2px solid #e0e4ea;
    padding: 6px 14px;
}
QPushButton[class="secondary"] {
    background-color: #252c38;
    color: #e0e4ea;
    border: 1px solid #262c37;
    border-radius: 8px;
    padding: 8px 16px;
    font-weight: 600;
    font-size: 13px;
}
QPushButton[class="secondary"]:hover {
    border-color: #4d8fd1;
}
QPushButton[class="secondary"]:focus {
    outline: none;
    border: 2px solid #6ba3e0;
    padding: 7px 15px;
}
QPushButton[class="ghost"] {
    background: transparent;
    color: #8892a0;
    border: none;
    border-radius: 8px;
    padding: 5px 12px;
    font-size: 12px;
}
QPushButton[class="ghost"]:hover {
    color: #e0e4ea;
    background-color: #252c38;
}
QPushButton[class="ghost"]:focus {
    outline: none;
    color: #e0e4ea;
    border: 2px solid #6ba3e0;
    padding: 3px 10px;
}
QPushButton[class="icon-button"] {
    background: transparent;
    border: 1px solid transparent;
    border-radius: 8px;
    padding: 0;
}
QPushButton[class="icon-button"]:hover {
    background-color: #252c38;
    border-color: #5b6472;
}
QPushButton[class="icon-button"]:focus {
    border-color: #6ba3e0;
    outline: none;
}
QPushButton[class="icon-button"]:pressed {
    background-color: #262c37;
}
QPushButton[class="danger"] {
    background-color: rgba(229,83,75,0.12);
    color: #e5534b;
    border: none;
    border-radius: 8px;
    padding: 5px 12px;
    font-weight: 600;
    font-size: 12px;
}
QPushButton[class="danger"]:hover {
    background-color: #e5534b;
    color: #ffffff;
}
QPushButton[class="danger"]:focus {
    outline: none;
    border: 2px solid #e5534b;
    padding: 3px 10px;
}
QPushButton[class="toggle"] {
    background: #0d1117;
    color: #8892a0;
    border: 1px solid #262c37;
    padding: 10px 16px;
    font-size: 13px;
    font-weight: 500;
}
QPushButton[class="toggle"]:hover {
    background: #252c38;
    color: #e0e4ea;
}
QPushButton[class="toggle"][active="true"] {
    background: rgba(77,143,209,0.12);
    color: #6ba3e0;
    font-weight: 600;
}
QPushButton[class="toggle"]:focus {
    outline: none;
    border: 2px solid #6ba3e0;
    padding: 9px 15px;
}
QLineEdit {
    background-color: #0d1117;
    border: 1px solid #262c37;
    border-radius: 8px;
    color: #e0e4ea;
    padding: 9px 14px;
    font-family: "Cascadia Code", "JetBrains Mono", monospace;
    font-size: 13px;
    selection-background-color: #4d8fd1;
}
QLineEdit:focus {
    border-color: #4d8fd1;
}
QCheckBox {
    color: #e0e4ea;
    spacing: 8px;
    background: transparent;
}
QCheckBox::indicator {
    width: 16px;
    height: 16px;
    border-radius: 4px;
    border: 1px solid #6e7681;
    background-color: #0d1117;
}
QCheckBox::indicator:checked {
    background-color: #4d8fd1;
    border-color: #4d8fd1;
}
QCheckBox:focus {
    outline: none;
}
QCheckBox::indicator:focus {
    width: 14px;
    height: 14px;
    border: 2px solid #6ba3e0;
}
QCheckBox::indicator:checked:focus {
    border-color: #e0e4ea;
}
QScrollArea {
    border: none;
    background: transparent;
}
QScrollArea > QWidget > QWidget {
    background: transparent;
}
QScrollBar:vertical {
    width: 6px;
    background: transparent;
}
QScrollBar::handle:vertical {
    background: #262c37;
    border-radius: 3px;
    min-height: 30px;
}
QScrollBar::handle:vertical:hover {
    background: #5b6472;
}
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical {
    height: 0;
}
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical {
    background: transparent;
}
QLabel[class="title"] {
    font-size: 22px;
    font-weight: bold;
    background: transparent;
    letter-spacing: -0.5px;
}
QLabel[class="subtitle"] {
    font-size: 13px;
    color: #8892a0;
    background: transparent;
}
QLabel[class="section-title"] {
    font-size: 13px;
    font-weight: bold;
    color: #8892a0;
    background: transparent;
    letter-spacing: 0.8px;
}
QLabel[class="dim"] {
    color: #8892a0;
    background: transparent;
}
QLabel[class="faint"] {
    color: #5b6472;
    background: transparent;
    font-size: 12px;
}
QLabel[class="mono"] {
    font-family: "Cascadia Code", "JetBrains Mono", monospace;
    font-size: 12px;
    color: #8892a0;
    background: transparent;
}
QLabel[class="badge-ok"] {
    background-color: rgba(45,190,120,0.12);
    color: #2dbe78;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: bold;
}
QLabel[class="badge-warn"], QLabel[class="badge-warning"] {
    background-color: rgba(212,167,44,0.12);
    color: #d4a72c;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: bold;
}
QLabel[class="badge-neutral-muted"] {
    background-color: #252c38;
    color: #a8b2c0;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: 500;
}
QLabel[class="badge-error"] {
    background-color: rgba(229,83,75,0.12);
    color: #e5534b;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: bold;
}
QLabel[class="badge-neutral"] {
    background-color: rgba(77,143,209,0.12);
    color: #4d8fd1;
    border-radius: 10px;
    padding: 3px 10px;
    font-size: 11px;
    font-weight: bold;
}
QFrame[class="project-card"] {
    background-color: #1c2129;
    border: 1px solid #262c37;
    border-radius: 12px;
    padding: 14px 18px;
}
QFrame[class="project-card"]:hover {
    border-color: #4d8fd1;
    background-color: #252c38;
}
QFrame[class="client-card"] {
    background-color: #1c2129;
    border: 1px solid #262c37;
    border-radius: 12px;
    padding: 0;
}
QFrame[class="client-card"]:hover {
    border-color: #4d8fd1;
}
QFrame[class="prereq-item"] {
    background-color: #1c2129;
    border: 1px solid #262c37;
    border-radius: 8px;
    padding: 10px 14px;
}
QToolButton[class="more-button"] {
    background: transparent;
    color: #8892a0;
    border: 1px solid transparent;
    border-radius: 6px;
    padding: 0 6px;
    font-size: 16px;
    font-weight: bold;
}
QToolButton[class="more-button"]:hover {
    background-color: #252c38;
    color: #e0e4ea;
    border-color: #5b6472;
}
QToolButton[class="more-button"]:focus {
    border-color: #6ba3e0;
}
QMenu[class="card-menu"] {
    background-color: #1c2129;
    border: 1px solid #262c37;
    border-radius: 8px;
    padding: 4px;
}
QMenu[class="card-menu"]::item {
    background: transparent;
    color: #e0e4ea;
    padding: 6px 20px 6px 12px;
    border-radius: 6px;
}
QMenu[class="card-menu"]::item:selected {
    background-color: #252c38;
}
QMenu[class="card-menu"]::item:disabled {
    color: #5b6472;
}
QMenu[class="card-menu"]::separator {
    height: 1px;
    background: #262c37;
    margin: 4px 6px;
}
QLabel[class="dialog-title"] {
    font-size: 16px;
    font-weight: bold;
    background: transparent;
}
QLabel[class="error-text"] {
    color: #e5534b;
    background: transparent;
}
QTreeWidget[class="backup-list"] {
    outline: 0;
    background-color: #161b22;
    border: 1px solid #262c37;
    border-radius: 8px;
    selection-background-color: rgba(77,143,209,0.18);
    selection-color: #e0e4ea;
}
QTreeWidget[class="backup-list"]::item {
    padding: 6px 4px;
}
QTreeWidget[class="backup-list"]::item:selected {
    background-color: rgba(77,143,209,0.18);
    color: #e0e4ea;
}
QTreeWidget[class="backup-list"] QHeaderView::section {
    background-color: #1c2129;
    color: #8892a0;
    border: none;
    border-bottom: 1px solid #262c37;
    padding: 6px 8px;
    font-size: 12px;
    font-weight: 600;
}
QPlainTextEdit[class="code"] {
    background-color: #161b22;
    border: 1px solid #262c37;
    border-radius: 8px;
    color: #e0e4ea;
    padding: 8px;
    font-family: "Cascadia Code", "JetBrains Mono", monospace;
    font-size: 12px;
    selection-background-color: #4d8fd1;
}
QPushButton:disabled {
    color: #5b6472;
}
)CSS");

// Sets the "class" style hook that the rules above select on.
inline void setClass(QWidget *widget, const char *cls)
{
    widget->setProperty("class", QString::fromLatin1(cls));
}

inline QLabel *classedLabel(const QString &text, const char *cls, QWidget *parent = nullptr)
{
    auto *label = new QLabel(text, parent);
    setClass(label, cls);
    return label;
}

inline QPushButton *classedButton(const QString &text, const char *cls, QWidget *parent = nullptr)
{
    auto *button = new QPushButton(text, parent);
    setClass(button, cls);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace Theme
