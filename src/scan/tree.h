#pragma once
#include <functional>

#include "scan/program_state.h"

namespace kerbilo {

// Adds the group "name格式资源" and one child per resource before+1 … before+added,
// labelled with its label position in hexadecimal.
void publishKindGroup(ProgramState& state, const Text& name, int before, int added);

// Shows the selected resource in the picture pane; anything else leaves the pane as is.
void showSelectedResource(ProgramState& state);

// The resource number of tree item `item`, or 0 when it is no resource of this catalogue.
int resourceOfItem(ProgramState& state, int item);

// The kind name of a resource item: its group's text less "格式资源".
Text kindNameOfItem(ProgramState& state, int item);

// Right button pressed on the tree: pops up the Edit menu; once it has closed, runs
// letPressReachTree (the tree's own press handling, which may select the item under the
// cursor and so show it); only then runs the command chosen in the menu. A command chosen
// while the menu is open must be handed to parkCommand (edit/commands.h does this).
void treeRightButtonPressed(ProgramState& state, const std::function<void()>& letPressReachTree);

// Keeps `command` for treeRightButtonPressed when the pop-up menu is open; true then.
bool parkCommand(ProgramState& state, std::function<void()> command);

}  // namespace kerbilo
