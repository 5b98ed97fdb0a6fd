// The records of a layout: the layout itself, its widget tree, keys, menus,
// menu items and tree items, as the layout reader (gui/layout_reader.h)
// builds them and the geometry (gui/geometry.h) sizes them. No window
// exists for any of them yet.
//
// Ownership: the layout owns every widget (its widget array, indexed by
// creation sequence), every key, menu, menu item and tree item; the tree
// and ring links are plain pointers into what it owns. Freeing the layout
// frees everything at once, without walking the tree.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct GUIFont;

// The widget kinds with their codes (the codes appear in messages).
enum GUIKind {
  GUI_ROOT = 0,
  GUI_HROWCOL = 1,
  GUI_VROWCOL = 2,
  GUI_TABFOLDER = 3,
  GUI_FORM = 4,
  GUI_GRID = 5,
  GUI_SINGLE = 6,
  GUI_OVLY = 7,
  GUI_LIST = 8,
  GUI_LISTVIEW = 9,
  GUI_HSPLITPANE = 10,
  GUI_VSPLITPANE = 11,
  GUI_HSPLITTER = 12,
  GUI_VSPLITTER = 13,
  GUI_TEXT = 14,
  GUI_LABEL = 15,
  GUI_PUSHB = 16,
  GUI_CHECKBOX = 17,
  GUI_RBGROUP = 18,
  GUI_OPTMENU = 19,
  GUI_HLBLDATA = 20,
  GUI_VLBLDATA = 21,
  GUI_TABFNOTIFY = 22,
  GUI_LISTHDR = 23,
  GUI_LISTDET = 24,
  GUI_TVNOTIFY = 25,
  GUI_TREEVIEW = 26,
  GUI_SCROLLWIN = 27,
  GUI_HSEP = 28,
  GUI_VSEP = 29,
  GUI_FRAME = 30,
  GUI_LVCOL = 31,
};

// Highest kind code.
constexpr int kGUIKindMax = 31;

// User code of the root widget.
constexpr int kGUIRootUserCode = 30000;

// First command identifier of keys and menu items (plus the index).
constexpr int kGUICommandBase = 30001;

// Slots of a widget's callback record.
constexpr int kGUICallbackSlots = 14;

// Deepest nesting of elements a layout file may have; deeper files are
// refused (the reader and the geometry passes then never run short of
// stack).
constexpr int kGUILayoutDepthMax = 100;

// The name of a kind ("Root" ... "LVCol"), or null above kGUIKindMax.
const char* GUIKindName(int kind);

// Data types of data fields.
enum GUIDataType {
  GUI_DT_ALPHA = 0,
  GUI_DT_INTEGER = 1,
  GUI_DT_DECIMAL = 2,
  GUI_DT_DATE = 3,
  GUI_DT_TIME = 4,
  GUI_DT_CHOICE = 5,
};

// Alignments inside a widget's space.
enum GUIAlign {
  GUI_ALIGN_UNSET = -1,
  GUI_ALIGN_START = 0,  // Left, Top
  GUI_ALIGN_CENTER = 1, // Center
  GUI_ALIGN_END = 2,    // Right, Bottom
};

// Frame styles of a panel.
enum GUIFrameStyle {
  GUI_FRAME_NONE = 0,
  GUI_FRAME_ETCHED = 1,
  GUI_FRAME_RAISED = 2,
  GUI_FRAME_SIMPLE = 3,
};

// Close buttons of a tab folder.
enum GUITabClose {
  GUI_TABCLOSE_NONE = 0,
  GUI_TABCLOSE_ALL = 1,
  GUI_TABCLOSE_CURRENT = 2,
};

// Menu item types.
enum GUIMenuItemType {
  GUI_MI_COMMAND = 0,
  GUI_MI_LABEL = 1,
  GUI_MI_SEPARATOR = 2,
  GUI_MI_CHECKBOX = 3,
  GUI_MI_SUBMENU = 4, // an item that opens a submenu
};

// Traversal modes of a layout (bits).
enum GUITraverse {
  GUI_TRAVERSE_ANY = 1,
  GUI_TRAVERSE_NONE = 2,
  GUI_TRAVERSE_CURRENT = 4,
  GUI_TRAVERSE_VISIBLE = 8,
};

// Tab styles of a layout.
enum GUITabStyle {
  GUI_TABSTYLE_UNSET = -1,
  GUI_TABSTYLE_VISIBLE = 0,
  GUI_TABSTYLE_ANY = 1,
  GUI_TABSTYLE_CURRENT = 2,
  GUI_TABSTYLE_NONE = 3,
  GUI_TABSTYLE_ALL = 4,
};

// Key codes of the key table: letters are their upper-case codes; named
// keys use the numbering below; a character key keeps its character.
enum GUIKeyCode {
  GUI_KEY_CANCEL = 0x03,
  GUI_KEY_BACK = 0x08,
  GUI_KEY_TAB = 0x09,
  GUI_KEY_ESCAPE = 0x1B,
  GUI_KEY_NEXT = 0x22,
  GUI_KEY_END = 0x23,
  GUI_KEY_HOME = 0x24,
  GUI_KEY_LEFT = 0x25,
  GUI_KEY_UP = 0x26,
  GUI_KEY_RIGHT = 0x27,
  GUI_KEY_DOWN = 0x28,
  GUI_KEY_PRINT = 0x2A,
  GUI_KEY_INSERT = 0x2D,
  GUI_KEY_DELETE = 0x2E,
  GUI_KEY_HELP = 0x2F,
  GUI_KEY_F1 = 0x70, // F1 ... F24 are 0x70 ... 0x87
};

struct GUILayout;
struct GUIWidget;
struct GUIMenu;

// One tree-view item.
struct GUITreeItem {
  GUITreeItem* parent;      // enclosing item, null at the top level
  GUITreeItem* first_child; // first nested item
  GUITreeItem* next;        // next item at the same level
  std::string label;        // Label: the text shown
  std::string name;         // Name
  std::string image;        // Image: image file of the normal state
  std::string sel_image;    // SelImage: image file of the selected state
  int expand;               // Expand: 1 starts expanded
  int user_code;            // -1 until the application sets one
};

// One entry of a choice field or a row of a list (an Item element).
struct GUIItem {
  std::string text; // Text
  int is_default;   // Default: 1 selected initially
};

// One key of the key table (a KeyDef element).
struct GUIKey {
  std::string key;     // Key as written
  std::string name;    // Name (the Key text when not given)
  std::string text;    // Text: accelerator text shown in menus
  int shift;           // Shift: 1 with the Shift modifier
  int alt;             // Alt: 1 with the Alt modifier
  int control;         // Control: 1 with the Ctrl modifier
  int code;            // key code (GUIKeyCode, a letter, or a character)
  int is_char;         // 1: `code` is a character, not a key code
  int valid;           // 1: the key is in the accelerator table
  int index;           // position in the key array (0: the last KeyDef)
  int command;         // no command (0) until the key table is built: then kGUICommandBase + index
  int user_code;       // -1 until the application sets one
  void* callback;      // activate callback, set by the application
};

// One menu item (a MenuItem element).
struct GUIMenuItem {
  GUIMenu* menu;           // the menu that holds it
  std::string name;        // Name
  std::string text;        // Text (default: name, else the submenu's text, else "MenuItem")
  std::string accelerator; // Accelerator: name of a key
  int mnemonic;            // Mnemonic: its first character, 0 for none
  int type;                // GUIMenuItemType
  int checked;             // Checked
  int hidden;              // Hidden
  int disabled;            // Disabled
  GUIMenu* submenu;        // the submenu it opens, or null
  GUIKey* key;             // the key bound by Accelerator, or null
  int index;               // position in the layout's menu-item array
  int command;             // no command (0) until bound: then kGUICommandBase + index
  int user_code;           // -1 until the application sets one
};

// One menu (a Menu element).
struct GUIMenu {
  std::string name;                 // Name
  std::string text;                 // Text (default: name, else "Menu")
  int mnemonic;                     // Mnemonic: its first character, 0 for none
  GUIMenuItem* parent_item;         // the item whose submenu it is; null: a top-level menu
  std::vector<GUIMenuItem*> items;  // its items, in file order
  int user_code;                    // -1 until the application sets one
  void* popup_callback;             // popup callback, set by the application
};

// One widget. Texts empty mean "not given"; integers -1 mean "unset" where
// noted.
struct GUIWidget {
  // Tree links.
  GUIWidget* child;  // first child
  GUIWidget* last_child; // last child
  GUIWidget* parent; // enclosing widget (null for the root)
  GUIWidget* next;   // next sibling
  GUIWidget* prev;   // previous sibling
  // Traversal ring (widgets that take part in traversal, in tree order).
  GUIWidget* trav_next;
  GUIWidget* trav_prev;
  // Ring of tab groups (panels with TabGroup), and the widget's own group.
  GUIWidget* tab_next;
  GUIWidget* tab_prev;
  GUIWidget* group; // the nearest enclosing tab group, or null

  // Font.
  GUIFont* font;           // assigned before sizing
  std::string font_class;  // FontClass

  // Texts.
  std::string name;      // Name
  std::string label;     // Label: tab text of a panel, label of a field
  std::string next_name; // Next: widget that traversal goes to next
  std::string text;      // Text of a field, Title of a panel
  std::string tab_next_name; // TabNext: tab group that Tab goes to next

  // Callback record and user data (set by the application).
  void* callbacks[kGUICallbackSlots];
  void* user_data;

  // Percentages.
  int pct_width;  // PercentWidth, -1 unset (100)
  int pct_height; // PercentHeight, -1 unset (100)
  int pct_x;      // PercentX, -1 unset
  int pct_y;      // PercentY, -1 unset

  // State flags (1 on).
  int visible;          // shown (not Hidden)
  int is_panel;         // a container
  int is_data;          // a data field
  int traversal;        // takes part in keyboard traversal
  int input;            // accepts input (Input of an OptMenu: typed values too)
  int tab_stop;         // TabStop
  int tab_stop_set;     // TabStop given
  int sorted;           // Sorted
  int disabled;         // Disabled
  int hstretch;         // HStretch
  int vstretch;         // VStretch
  int data_align_off;   // DataAlign given, not "True"
  int data_align_given; // DataAlign given
  int visible_created;  // visible as created
  int disabled_created; // disabled as created
  int first_input;      // FirstInput
  int display_only;     // DisplayOnly
  int no_echo;          // NoEcho
  int password;         // Password
  int checked;          // Checked
  int left_text;        // LeftText
  int allow_sort;       // AllowSort
  int ignore_case;      // IgnoreCase
  int label_top;        // LabelType Top

  // Identity.
  int seq;       // creation sequence number (index in the widget array)
  int user_code; // -1 until the application sets one
  int kind;      // GUIKind

  // Geometry (pixels).
  int x, y;              // assigned position inside the parent
  int width, height;     // assigned size
  int pref_width, pref_height; // preferred size
  int min_width, min_height;   // minimum size
  int grab_width, grab_height; // GrabWidth, GrabHeight
  int halign, valign;          // HAlign, VAlign (GUIAlign)
  int min_px_width, min_px_height;   // MinPixelWidth/MinWidth, ... (0 none)
  int pref_px_width, pref_px_height; // PrefPixelWidth/PrefWidth, ... (0 none)
  int min_cols, min_rows, pref_cols, pref_rows; // MinCols, ... (0 none)
  int border;            // BorderSize
  int row, col;          // Row, Col in a Form
  int num_rows, num_cols; // NumRows, NumCols (0 unset)

  // Data field.
  std::string format;     // Format (the default by data type when empty)
  int data_type;          // GUIDataType
  int justify;            // Justify: GUI_ALIGN_START left, GUI_ALIGN_END right, -1 unset
  int max_len;            // maximum text length (from the format)
  std::vector<GUIItem> items; // Item elements of a choice field
  std::vector<std::string> choices; // the choice list (items, or the format's words)
  int cur_index;          // current choice, -1 none
  std::string initial_sort; // InitialSort of an LVCol
  int scroll_bar;         // a Text field that gets a vertical scroll bar

  // Panel.
  int margin_width;   // MarginWidth, -1 unset
  int margin_height;  // MarginHeight, -1 unset
  int adjust_child_width;  // AdjustChildWidth, -1 unset
  int adjust_child_height; // AdjustChildHeight, -1 unset
  int adjust_left, adjust_right, adjust_top, adjust_bottom, adjust_spacing; // Adjust*
  int child_pct_x, child_pct_y; // ChildPercentX, ChildPercentY, -1 unset
  int spacing;        // Spacing, -1 unset
  int frame;          // Frame (GUIFrameStyle)
  int equal_width;    // EqualWidth
  int equal_height;   // EqualHeight
  int draw_sep;       // DrawSep
  int tab_group;      // TabGroup
  int tab_to_first;   // TabToFirst
  int show_grid;      // ShowGrid
  int fixed_pos;      // FixedPos
  int current_tab;    // current tab of a TabFolder
  int tab_close;      // TabCloseButton (GUITabClose)
  int equal_width_tabs; // EqualWidthTabs
  std::string header;   // Header of a List
  std::string header_font_class; // HeaderFontClass
  std::string detail_font_class; // DetailFontClass
  int multi_sel;      // MultiSel
  int max_rows;       // MaxRows of a ListView (default 99)
  int sort_column;    // sort column of a ListView, -1 none
  int hscroll, vscroll; // HScroll, VScroll of a ScrollWin: -1 not given
  std::vector<GUIItem> rows;      // rows of a List or ListView
  GUITreeItem* tree_items;        // first top-level item of a TreeView

  // Computed by the geometry.
  int inset_left, inset_top;   // inner insets
  int over_h, over_v;          // horizontal and vertical overhead
  int title_width;             // title text width plus its frame share
  int own_min_width, own_min_height, own_pref_width, own_pref_height; // a panel's own sizes
  int label_share;             // the shared side-label width or top-label height
  std::vector<int> form_cols;  // Form: column widths
  std::vector<int> form_rows;  // Form: row heights
  int form_col_gap, form_row_gap; // Form: gaps in pixels
  int form_first_col, form_first_row; // Form: first used column and row
  std::vector<int> form_pref_cols; // Form: preferred column widths
  std::vector<int> form_pref_rows; // Form: preferred row heights
  int form_min_width, form_pref_width, form_min_height, form_pref_height; // Form: grid sizes
  int slot_x, slot_y, slot_width, slot_height; // the space the parent gave it
};

// One layout (one layout file).
struct GUILayout {
  // Links in the list of open windows.
  GUILayout* prev_layout;
  GUILayout* next_layout;
  GUILayout* owner;

  GUIWidget* root; // the root widget (kind Root)
  std::vector<std::unique_ptr<GUIWidget>> widgets; // every widget by sequence number
  GUIWidget* first_input; // the widget focused first, or null

  std::vector<std::unique_ptr<GUIMenu>> menus;          // every menu, file order
  std::vector<std::unique_ptr<GUIMenuItem>> menu_items_owned; // every menu item, file order
  std::vector<GUIMenuItem*> menu_items;                 // the menu-item array (file order)
  std::vector<std::unique_ptr<GUIKey>> keys_owned;      // every key, newest first
  std::vector<GUIKey*> keys;                            // the key array (index 0: the last KeyDef)
  std::vector<std::unique_ptr<GUITreeItem>> tree_items; // every tree item

  std::vector<std::string> status_texts; // status-bar part texts
  std::string parts;                     // Parts as written

  std::string title;    // Title
  std::string name;     // Name
  std::string font_set; // Font (empty: "default")
  int pct_width, pct_height; // PercentWidth, PercentHeight, 0 unset
  int pct_x, pct_y;          // PercentX, PercentY, -1 unset
  int x, y;                  // XPos, YPos, -1 unset

  // Window handles and sizes (set when the window is built).
  void* window;
  void* status_bar;
  void* owner_window;
  int min_track_width, min_track_height;
  int max_track_width, max_track_height;
  int client_width, client_height;
  int status_height;

  // Flags (1 on).
  int has_menu_bar;
  int has_status_bar;
  int dialog;
  int hidden;
  int minimized;
  int pos_absolute;
  int size_absolute;
  int tab_to_first;
  int open;
  int running;
  int maximized;

  int traverse;   // GUITraverse bits
  int tab_style;  // GUITabStyle (as given or derived)
};

// Allocates a widget of `kind` under `parent` (null for none): appended to
// the layout's widget array (sequence number = index) and as the parent's
// last child, user code -1, percentages unset, flags and data type by kind;
// in a split pane a splitter is inserted before every child but the first.
// Null after reporting "Illegal type: %d in _gnalloc()" for a kind above
// kGUIKindMax.
GUIWidget* GUIAllocWidget(GUILayout* layout, GUIWidget* parent, int kind);

// Unlinks a widget from its parent and siblings (the layout still owns it).
void GUIUnlinkWidget(GUIWidget* w);

// Links an unlinked widget as the last child of `parent`.
void GUIAppendChild(GUIWidget* parent, GUIWidget* w);

// Checks a widget's kind before it is released: reports "Illegal type in
// _gnfree() - Type: %d" and returns -1 above kGUIKindMax, else 0.
int GUICheckFreeKind(const GUIWidget* w);

// Makes an empty layout with its root widget.
std::unique_ptr<GUILayout> GUINewLayout();

// Frees a layout and everything it owns.
void GUIFreeLayout(GUILayout* layout);

// The next widget after `w` in tree order (parents before children) below
// `top`, or null after the last. Iterative.
GUIWidget* GUINextInTree(GUIWidget* w, const GUIWidget* top);

// The number of children of a widget.
int GUIChildCount(const GUIWidget* w);

// The widget named `name` (compared exactly), or null.
GUIWidget* GUIFindWidget(const GUILayout* layout, const char* name);

// The key named `name`, or null.
GUIKey* GUIFindKey(const GUILayout* layout, const char* name);

// 1 for the panel kinds (containers), else 0.
int GUIKindIsPanel(int kind);
