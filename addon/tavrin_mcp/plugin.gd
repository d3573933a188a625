@tool
extends EditorPlugin

# Marks in the editor that the Tavrin MCP addon is active. The MCP server itself runs outside
# Godot ("uvx tavrin"); this plugin adds an entry under Project > Tools while it is enabled, and
# keeps a record of the editor it runs in (res://.godot/tavrin/editor.json) for Tavrin Desktop,
# which tells from it that the addon is loaded and in which Godot.

const MENU_ITEM := "Tavrin MCP: Bridge Enabled"
const RECORD_FOLDER := "tavrin"
const RECORD_FILE := "editor.json"

var _record_path := ""


func _enter_tree() -> void:
	add_tool_menu_item(MENU_ITEM, _on_status_pressed)
	_write_record()


func _exit_tree() -> void:
	remove_tool_menu_item(MENU_ITEM)
	_remove_record()


func _on_status_pressed() -> void:
	print("Tavrin MCP addon v%s is enabled." % _version())


func _version() -> String:
	var cfg := ConfigFile.new()
	var path: String = get_script().resource_path.get_base_dir().path_join("plugin.cfg")
	if cfg.load(path) != OK:
		return "?"
	return str(cfg.get_value("plugin", "version", "?"))


# The project's data folder: res://.godot, or res://godot for a project that asks for a visible one.
func _data_folder() -> String:
	var hidden: bool = ProjectSettings.get_setting("application/config/use_hidden_project_data_directory", true)
	return "res://.godot" if hidden else "res://godot"


func _write_record() -> void:
	var folder := _data_folder().path_join(RECORD_FOLDER)
	if not DirAccess.dir_exists_absolute(folder):
		var made := DirAccess.make_dir_recursive_absolute(folder)
		if made != OK:
			push_warning("Tavrin MCP: cannot create %s (%s)." % [folder, error_string(made)])
			return
	var record := {
		"pid": OS.get_process_id(),
		"godot": str(Engine.get_version_info().get("string", "")),
		"addon": _version(),
		"started": Time.get_datetime_string_from_system(true) + "Z",
	}
	# Written beside the record, then renamed over it: a reader never sees half a file.
	var path := folder.path_join(RECORD_FILE)
	var temporary := path + ".tmp"
	var file := FileAccess.open(temporary, FileAccess.WRITE)
	if file == null:
		push_warning("Tavrin MCP: cannot write %s (%s)." % [temporary, error_string(FileAccess.get_open_error())])
		return
	file.store_string(JSON.stringify(record, "  ") + "\n")
	file.close()
	var renamed := DirAccess.rename_absolute(temporary, path)
	if renamed != OK and FileAccess.file_exists(path):
		# Where a rename does not replace an existing file.
		DirAccess.remove_absolute(path)
		renamed = DirAccess.rename_absolute(temporary, path)
	if renamed != OK:
		DirAccess.remove_absolute(temporary)
		push_warning("Tavrin MCP: cannot write %s (%s)." % [path, error_string(renamed)])
		return
	_record_path = path


# Only our own record: another editor may have opened the project since.
func _remove_record() -> void:
	if _record_path.is_empty() or not FileAccess.file_exists(_record_path):
		return
	var record = JSON.parse_string(FileAccess.get_file_as_string(_record_path))
	if record is Dictionary and int(record.get("pid", -1)) == OS.get_process_id():
		DirAccess.remove_absolute(_record_path)
	_record_path = ""
