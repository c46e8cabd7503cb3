#include "ui/MenuView.h"

#include <QAction>

namespace brindle::ui {

MenuView::MenuView(Chosen chosen) : chosen_(std::move(chosen)) {}

void MenuView::show(const Menu& model) {
    if (!built_) {
        build(menu_, model.items);
        built_ = true;
    }
    update(model.items);
}

QAction* MenuView::action(MenuId id) const {
    auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

void MenuView::build(QMenu& menu, const std::vector<MenuItem>& items) {
    for (const MenuItem& item : items) {
        if (item.separator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = nullptr;
        if (!item.submenu.empty()) {
            submenus_.push_back(std::make_unique<QMenu>(QString::fromStdString(item.title)));
            build(*submenus_.back(), item.submenu);
            action = menu.addMenu(submenus_.back().get());
        } else {
            action = menu.addAction(QString::fromStdString(item.title));
            MenuId id = item.id;
            QObject::connect(action, &QAction::triggered, [this, id] { chosen_(id); });
        }
        actions_[item.id] = action;
    }
}

void MenuView::update(const std::vector<MenuItem>& items) {
    for (const MenuItem& item : items) {
        if (item.separator) continue;
        if (QAction* drawn = action(item.id)) apply(*drawn, item);
        update(item.submenu);
    }
}

void MenuView::apply(QAction& action, const MenuItem& item) {
    action.setText(QString::fromStdString(item.title));
    action.setEnabled(item.enabled);
    action.setVisible(!item.hidden);
    action.setCheckable(item.checkable);
    action.setChecked(item.checked);
    action.setShortcut(QKeySequence(QString::fromStdString(item.shortcut)));
    action.setShortcutVisibleInContextMenu(!item.shortcut.empty());
}

}  // namespace brindle::ui
