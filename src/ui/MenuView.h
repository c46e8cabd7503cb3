#pragma once

#include <QMenu>
#include <functional>
#include <map>

#include "app/MenuModel.h"

class QAction;

namespace brindle::ui {

// Draws the menu model as a QMenu. The first show() builds it; later ones
// update titles, states and check marks in place, so an open menu stays
// open while the state changes.
class MenuView {
public:
    using Chosen = std::function<void(MenuId)>;

    explicit MenuView(Chosen chosen);

    void show(const Menu& model);
    QMenu* menu() { return &menu_; }
    // The action drawing item id, or nullptr.
    QAction* action(MenuId id) const;

private:
    void build(QMenu& menu, const std::vector<MenuItem>& items);
    void update(const std::vector<MenuItem>& items);
    static void apply(QAction& action, const MenuItem& item);

    Chosen chosen_;
    QMenu menu_;
    std::vector<std::unique_ptr<QMenu>> submenus_;
    std::map<MenuId, QAction*> actions_;
    bool built_ = false;
};

}  // namespace brindle::ui
