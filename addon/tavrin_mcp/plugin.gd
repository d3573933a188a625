@tool
extends EditorPlugin

# Marks in the editor that the Tavrin MCP addon is active. The MCP server itself runs outside
# Godot ("uvx tavrin"); this plugin only adds an entry under Project > Tools while it is enabled.

const MENU_ITEM := "Tavrin MCP: Bridge Enabled"


func _enter_tree() -> void:
	add_tool_menu_item(MENU_ITEM, _on_status_pressed)


func _exit_tree() -> void:
	remove_tool_menu_item(MENU_ITEM)


func _on_status_pressed() -> void:
	print("Tavrin MCP addon v%s is enabled." % _version())


func _version() -> String:
	var cfg := ConfigFile.new()
	var path: String = get_script().resource_path.get_base_dir().path_join("plugin.cfg")
	if cfg.load(path) != OK:
		return "?"
	return str(cfg.get_value("plugin", "version", "?"))
