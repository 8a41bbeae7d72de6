#pragma once

#include <QString>

// Names of the user-defaults keys and of the keys inside their values.
// The spellings are stored in every user's defaults file and read by several
// windows, so they never change, misspellings included ("disable_lables").
// The constants carry the key's own spelling so a search for a key finds
// every reader and writer.
namespace KZDefaultsKey {

// General preferences.
inline const QString reduce_transparence = QStringLiteral("reduce_transparence");
inline const QString report_empty_folders = QStringLiteral("report_empty_folders");
inline const QString check_image_metadata_option = QStringLiteral("check_image_metadata_option");
inline const QString security_moving_to_trash = QStringLiteral("security_moving_to_trash");
// The music library's XML export; empty means the usual place under the
// home folder.
inline const QString iTunes_library_path = QStringLiteral("iTunes_library_path");

// Alert suppression: YES once the user asked not to see the alert again.
inline const QString ask_close_photos = QStringLiteral("ask_close_photos");
inline const QString ask_continue_marking = QStringLiteral("ask_continue_marking");
inline const QString SQL_error = QStringLiteral("SQL_error");
inline const QString ask_result_start_over = QStringLiteral("ask_result_start_over");
inline const QString ask_close_result = QStringLiteral("ask_close_result");
inline const QString ask_close_iTunes = QStringLiteral("ask_close_iTunes");
inline const QString ask_show_deads = QStringLiteral("ask_show_deads");
inline const QString remove_user_deleted_tab_from_preferences =
    QStringLiteral("remove_user_deleted_tab_from_preferences");
inline const QString remove_user_deleted_tab = QStringLiteral("remove_user_deleted_tab");
inline const QString inform_path_not_found = QStringLiteral("inform_path_not_found");
inline const QString show_undo_available = QStringLiteral("show_undo_available");
inline const QString show_no_marks_found = QStringLiteral("show_no_marks_found");
inline const QString ask_result_removing_while_removing =
    QStringLiteral("ask_result_removing_while_removing");
inline const QString show_nothing_to_remove = QStringLiteral("show_nothing_to_remove");
inline const QString show_open_saved_file = QStringLiteral("show_open_saved_file");

// Limitations: arrays of rows (see KZDefaultsRowKey).
inline const QString locations_excluded = QStringLiteral("locations_excluded");
inline const QString extensions_excluded = QStringLiteral("extensions_excluded");

// File-type labels (see KZLabelKey for the keys of one label).
inline const QString file_type_labels = QStringLiteral("file_type_labels");
inline const QString last_file_type_tag = QStringLiteral("last_file_type_tag");
inline const QString disable_lables = QStringLiteral("disable_lables");
inline const QString disable_lable_colors = QStringLiteral("disable_lable_colors");

// Result window.
inline const QString show_result_by_group = QStringLiteral("show_result_by_group");
inline const QString list_splitView_is_vertical = QStringLiteral("list_splitView_is_vertical");
inline const QString show_marked_info = QStringLiteral("show_marked_info");
inline const QString is_first_run = QStringLiteral("is_first_run");

// Written by the split views on resize and never registered: absent until
// the first resize, and then the split view restores what was written.
inline const QString main_splitview_settings = QStringLiteral("main_splitview_settings");
inline const QString list_ver_splitview_settings = QStringLiteral("list_ver_splitview_settings");
inline const QString list_hor_splitview_settings = QStringLiteral("list_hor_splitview_settings");

} // namespace KZDefaultsKey

// Keys of the rows of "locations_excluded" and "extensions_excluded".
namespace KZDefaultsRowKey {

inline const QString locations_excl = QStringLiteral("locations_excl");
inline const QString extensions_excl = QStringLiteral("extensions_excl");
// Whether the row takes effect.
inline const QString check_col = QStringLiteral("check_col");

} // namespace KZDefaultsRowKey

// Keys of one label dictionary of "file_type_labels", and of the neutral
// colours of "disable_lable_colors" (the eight colour keys only). Colour
// components are doubles from 0 to 1, so a label is a plain property list.
namespace KZLabelKey {

inline const QString label_name = QStringLiteral("label_name");
inline const QString red_label_on_color = QStringLiteral("red_label_on_color");
inline const QString green_label_on_color = QStringLiteral("green_label_on_color");
inline const QString blue_label_on_color = QStringLiteral("blue_label_on_color");
inline const QString alpha_label_on_color = QStringLiteral("alpha_label_on_color");
inline const QString red_label_off_color = QStringLiteral("red_label_off_color");
inline const QString green_label_off_color = QStringLiteral("green_label_off_color");
inline const QString blue_label_off_color = QStringLiteral("blue_label_off_color");
inline const QString alpha_label_off_color = QStringLiteral("alpha_label_off_color");
inline const QString customizable_tag = QStringLiteral("customizable_tag");
inline const QString draw_separator = QStringLiteral("draw_separator");
inline const QString file_type_tag = QStringLiteral("file_type_tag");
inline const QString placeholder_string = QStringLiteral("placeholder_string");
inline const QString labels_extension = QStringLiteral("labels_extension");
inline const QString labels_extension_array = QStringLiteral("labels_extension_array");
inline const QString labels_type_array = QStringLiteral("labels_type_array");

// Values of "customizable_tag".
inline const QString not_customizable = QStringLiteral("not_customizable");
inline const QString customizable = QStringLiteral("customizable");

} // namespace KZLabelKey
