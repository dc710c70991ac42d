// The workbench dialog in GTK: builds the controls, keeps the tree and the enabled state of the
// buttons in step with the workbench, and binds every button to its command. File names come
// from native file dialogs (or from the scripted mode, which answers the requests itself).

#include "loom/cloom_dlg.h"

#include <algorithm>

namespace loom
{

const char* const kViewerHelpText =
    "Rendering window controls\nSPACE, 'g' : toggle animation\nRIGHT arrow, 'n': next frame\n"
    "LEFT arrow, 'p': previous frame\nUP arrow: increase animation framerate\nDOWN arrow: "
    "decrease animation framerate\n";

const char* const kOpenMd3Filter =
    "MD3 files(*.md3)|*.md3|OBJ files (*.obj)|*.obj|All Files (*.*)|*.*||";
const char* const kSaveMd3Filter = "MD3 files (*.md3)|*.md3|All Files (*.*)|*.*||";
const char* const kObjFilter = "OBJ files (*.obj)|*.obj|All Files (*.*)|*.*||";

namespace
{

const char* const kLoadSequenceLabel = "Load OBJ sequence...\n(select the first frame)";

enum TreeColumnT
{
    kColumnLabel,
    kColumnItem,
};

// The button and its handler, owned by the signal connection.
struct BindingT
{
    CloomDlg* dialog;
    void (CloomDlg::*handler)();
};

void onClicked(GtkButton*, gpointer data)
{
    auto* binding = static_cast<BindingT*>(data);
    (binding->dialog->*binding->handler)();
}

void freeBinding(gpointer data, GClosure*)
{
    delete static_cast<BindingT*>(data);
}

std::string firstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

} // namespace

std::vector<std::pair<std::string, std::string>> parseFilter(const std::string& filter)
{
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= filter.size())
    {
        size_t bar = filter.find('|', at);
        if (bar == std::string::npos)
        {
            bar = filter.size();
        }
        parts.push_back(filter.substr(at, bar - at));
        at = bar + 1;
    }
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 0; i + 1 < parts.size(); i += 2)
    {
        if (parts[i].empty())
        {
            break; // the "||" that ends the list
        }
        pairs.emplace_back(parts[i], parts[i + 1]);
    }
    return pairs;
}

CloomDlg::CloomDlg(WorkbenchT& workbench, DesktopViewersT& viewers)
    : workbench_(workbench)
    , viewers_(viewers)
{
    dialog_ = gtk_dialog_new();
    g_object_ref_sink(dialog_);
    gtk_window_set_title(GTK_WINDOW(dialog_), "OBJ sequence viewer");
    gtk_window_set_icon_name(GTK_WINDOW(dialog_), "applications-graphics");
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(dialog_), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(dialog_), TRUE);

    // Closing the dialog's window ends the program like "Exit" (the dialog itself stays).
    g_signal_connect(dialog_, "delete-event",
                     G_CALLBACK(+[](GtkWidget* widget, GdkEvent*, gpointer) -> gboolean
                                {
                                    gtk_dialog_response(GTK_DIALOG(widget), GTK_RESPONSE_CLOSE);
                                    return TRUE;
                                }),
                     nullptr);
    GtkWidget* exitButton = gtk_dialog_add_button(GTK_DIALOG(dialog_), "Exit", GTK_RESPONSE_CLOSE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CLOSE);
    buttons_["Exit"] = exitButton;

    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog_));
    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 4);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 8);
    gtk_box_pack_start(GTK_BOX(content), grid, TRUE, TRUE, 0);

    GtkWidget* help = gtk_label_new(kViewerHelpText);
    gtk_label_set_xalign(GTK_LABEL(help), 0);
    gtk_label_set_yalign(GTK_LABEL(help), 0);
    gtk_grid_attach(GTK_GRID(grid), help, 0, 0, 1, 1);

    store_ = gtk_tree_store_new(2, G_TYPE_STRING, G_TYPE_INT);
    tree_ = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store_));
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(tree_), FALSE);
    gtk_tree_view_set_enable_tree_lines(GTK_TREE_VIEW(tree_), TRUE);
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(tree_), -1, "surface",
                                                gtk_cell_renderer_text_new(), "text", kColumnLabel,
                                                nullptr);
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree_));
    gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
    g_signal_connect(selection, "changed", G_CALLBACK(onSelectionChanged), this);
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    gtk_widget_set_size_request(scroll, 220, 140);
    gtk_widget_set_hexpand(scroll, TRUE);
    gtk_widget_set_vexpand(scroll, TRUE);
    gtk_container_add(GTK_CONTAINER(scroll), tree_);
    gtk_grid_attach(GTK_GRID(grid), scroll, 0, 1, 1, 1);

    GtkWidget* commands = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(commands), 4);
    gtk_grid_set_column_spacing(GTK_GRID(commands), 4);
    gtk_grid_attach(GTK_GRID(grid), commands, 1, 0, 1, 2);

    GtkWidget* load =
        addButton(commands, kLoadSequenceLabel, 0, 0, &CloomDlg::OnBnClickedButtonLoadSequence, 2);
    gtk_label_set_justify(GTK_LABEL(gtk_bin_get_child(GTK_BIN(load))), GTK_JUSTIFY_CENTER);
    addButton(commands, "open md3...", 0, 1, &CloomDlg::OnBnClickedButtonOpenMd3);
    addButton(commands, "load obj...", 1, 1, &CloomDlg::OnBnClickedButtonLoadObj);
    addButton(commands, "view", 0, 2, &CloomDlg::OnBnClickedButtonView);
    addButton(commands, "convert", 1, 2, &CloomDlg::OnBnClickedButtonConvert);
    addButton(commands, "subdivide", 0, 3, &CloomDlg::OnBnClickedButtonSubdivide);
    addButton(commands, "loop", 1, 3, &CloomDlg::OnBnClickedButtonLoop);
    addButton(commands, "save obj...", 0, 4, &CloomDlg::OnBnClickedButtonSaveObj);
    addButton(commands, "save seq", 1, 4, &CloomDlg::OnBnClickedButtonSaveSequence);
    addButton(commands, "save md3...", 0, 5, &CloomDlg::OnBnClickedButtonSaveMd3);
    addButton(commands, "save loop...", 1, 5, &CloomDlg::OnBnClickedButtonSaveLoop);
    // "make manifold" changes nothing: it stays hidden.
    GtkWidget* manifoldButton =
        addButton(commands, "make manifold", 0, 7, &CloomDlg::OnBnClickedButtonMakeManifold);
    gtk_widget_set_no_show_all(manifoldButton, TRUE);
    gtk_widget_hide(manifoldButton);

    convertedBox_ = gtk_check_button_new_with_label("converted");
    manifoldBox_ = gtk_check_button_new_with_label("manifold");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(convertedBox_), workbench_.converted);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(manifoldBox_), workbench_.manifold);
    g_signal_connect(convertedBox_, "toggled", G_CALLBACK(onToggled), this);
    g_signal_connect(manifoldBox_, "toggled", G_CALLBACK(onToggled), this);
    gtk_grid_attach(GTK_GRID(commands), convertedBox_, 0, 6, 1, 1);
    gtk_grid_attach(GTK_GRID(commands), manifoldBox_, 1, 6, 1, 1);

    refillTree();
}

CloomDlg::~CloomDlg()
{
    gtk_widget_destroy(dialog_);
    g_object_unref(dialog_);
    g_object_unref(store_);
}

GtkWidget* CloomDlg::addButton(GtkWidget* grid, const char* label, int column, int row,
                               void (CloomDlg::*handler)(), int width)
{
    GtkWidget* b = gtk_button_new_with_label(label);
    g_signal_connect_data(b, "clicked", G_CALLBACK(onClicked), new BindingT{this, handler},
                          freeBinding, GConnectFlags(0));
    gtk_grid_attach(GTK_GRID(grid), b, column, row, width, 1);
    buttons_[firstLine(label)] = b;
    return b;
}

GtkWidget* CloomDlg::button(const std::string& label)
{
    auto found = buttons_.find(firstLine(label));
    return found == buttons_.end() ? nullptr : found->second;
}

void CloomDlg::run()
{
    // A loop of its own rather than gtk_dialog_run, so that the console window beside the
    // dialog can still be scrolled.
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    auto quit =
        +[](GtkDialog*, gint, gpointer data) { g_main_loop_quit(static_cast<GMainLoop*>(data)); };
    gulong handler = g_signal_connect(dialog_, "response", G_CALLBACK(quit), loop);
    gtk_widget_show_all(dialog_);
    g_main_loop_run(loop);
    g_signal_handler_disconnect(dialog_, handler);
    g_main_loop_unref(loop);
    gtk_widget_hide(dialog_);
}

void CloomDlg::end()
{
    gtk_dialog_response(GTK_DIALOG(dialog_), GTK_RESPONSE_CLOSE);
}

void CloomDlg::onToggled(GtkToggleButton*, gpointer self)
{
    auto* dlg = static_cast<CloomDlg*>(self);
    dlg->workbench_.converted = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(dlg->convertedBox_));
    dlg->workbench_.manifold = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(dlg->manifoldBox_));
}

void CloomDlg::onSelectionChanged(GtkTreeSelection* selection, gpointer self)
{
    auto* dlg = static_cast<CloomDlg*>(self);
    if (dlg->filling_)
    {
        return;
    }
    GtkTreeModel* model;
    GtkTreeIter iter;
    int item = -1;
    if (gtk_tree_selection_get_selected(selection, &model, &iter))
    {
        gtk_tree_model_get(model, &iter, kColumnItem, &item, -1);
    }
    dlg->workbench_.selectItem(item);
    dlg->updateControls();
}

void CloomDlg::selectTreeItem(int item)
{
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(tree_));
    if (item < 0)
    {
        gtk_tree_selection_unselect_all(selection);
        return;
    }
    GtkTreeModel* model = GTK_TREE_MODEL(store_);
    // Depth-first search for the row carrying `item`.
    std::function<bool(GtkTreeIter*)> find = [&](GtkTreeIter* parent) -> bool
    {
        GtkTreeIter child;
        bool more = gtk_tree_model_iter_children(model, &child, parent);
        while (more)
        {
            int value = -1;
            gtk_tree_model_get(model, &child, kColumnItem, &value, -1);
            if (value == item)
            {
                gtk_tree_selection_select_iter(selection, &child);
                return true;
            }
            if (find(&child))
            {
                return true;
            }
            more = gtk_tree_model_iter_next(model, &child);
        }
        return false;
    };
    find(nullptr);
}

void CloomDlg::refillTree()
{
    filling_ = true;
    gtk_tree_store_clear(store_);
    const std::vector<TreeItemT>& items = workbench_.tree();
    std::vector<GtkTreeIter> iters(items.size());
    for (size_t i = 0; i < items.size(); ++i)
    {
        int parent = items[i].parent;
        GtkTreeIter* parentIter =
            parent >= 0 && size_t(parent) < i ? &iters[size_t(parent)] : nullptr;
        gtk_tree_store_append(store_, &iters[i], parentIter);
        gtk_tree_store_set(store_, &iters[i], kColumnLabel, items[i].label.c_str(), kColumnItem,
                           int(i), -1);
    }
    gtk_tree_view_expand_all(GTK_TREE_VIEW(tree_));
    filling_ = false;
    shownModel_ = workbench_.model().get();
    workbench_.selectItem(-1);
    updateControls();
}

SurfaceEntryT* CloomDlg::quietSelection() const
{
    const std::vector<TreeItemT>& items = workbench_.tree();
    int item = workbench_.selectedItem();
    if (item < 0 || size_t(item) >= items.size())
    {
        return nullptr;
    }
    int parent = items[size_t(item)].parent;
    if (parent < 0 || size_t(parent) >= items.size() || items[size_t(parent)].value != 1)
    {
        return nullptr;
    }
    return items[size_t(item)].entry.get();
}

void CloomDlg::updateControls()
{
    SurfaceEntryT* entry = quietSelection();
    bool model = workbench_.model() != nullptr;
    bool mesh = entry && entry->mesh;
    auto enable = [this](const char* label, bool on)
    { gtk_widget_set_sensitive(buttons_.at(label), on); };
    for (const char* label : {"view", "convert", "save obj...", "save seq", "make manifold"})
    {
        enable(label, entry != nullptr);
    }
    enable("subdivide", mesh);
    enable("loop", mesh);
    enable("save md3...", model && entry);
    enable("save loop...", model && mesh);
}

void CloomDlg::afterCommand()
{
    if (workbench_.model().get() != shownModel_)
    {
        refillTree();
    }
    else
    {
        updateControls();
    }
}

std::optional<std::string> CloomDlg::askFile(const FileRequestT& request)
{
    return fileAsk_ ? fileAsk_(request) : nativeFileDialog(request);
}

std::optional<std::string> CloomDlg::nativeFileDialog(const FileRequestT& request)
{
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        request.title.c_str(), GTK_WINDOW(dialog_),
        request.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
        request.save ? "_Save" : "_Open", "_Cancel");
    for (const auto& [description, patterns] : parseFilter(request.filter))
    {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, description.c_str());
        size_t at = 0;
        while (at <= patterns.size())
        {
            size_t end = std::min(patterns.find(';', at), patterns.size());
            std::string pattern = patterns.substr(at, end - at);
            at = end + 1;
            if (pattern == "*.*")
            {
                pattern = "*"; // every file, with or without an extension
            }
            if (pattern.empty())
            {
                continue;
            }
            gtk_file_filter_add_pattern(filter, pattern.c_str());
            // Extensions are compared without regard to case.
            std::string upper = pattern;
            std::transform(upper.begin(), upper.end(), upper.begin(),
                           [](unsigned char c) { return char(std::toupper(c)); });
            if (upper != pattern)
            {
                gtk_file_filter_add_pattern(filter, upper.c_str());
            }
        }
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
    }
    if (request.save)
    {
        gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
    }
    std::optional<std::string> chosen;
    if (gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT)
    {
        gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        if (name)
        {
            chosen = name;
            g_free(name);
        }
    }
    g_object_unref(chooser);
    return chosen;
}

void CloomDlg::OnBnClickedButtonOpenMd3()
{
    if (auto path = askFile({false, "open md3...", kOpenMd3Filter}))
    {
        workbench_.openMd3(*path);
    }
    afterCommand();
}

void CloomDlg::OnBnClickedButtonLoadSequence()
{
    if (auto path = askFile({false, "Load OBJ sequence (select the first frame)", kObjFilter}))
    {
        workbench_.loadObjSequence(*path);
    }
    afterCommand();
}

void CloomDlg::OnBnClickedButtonLoadObj()
{
    if (auto path = askFile({false, "load obj...", kObjFilter}))
    {
        workbench_.loadObj(*path);
    }
    afterCommand();
}

void CloomDlg::OnBnClickedButtonView()
{
    workbench_.view();
    afterCommand();
}

void CloomDlg::OnBnClickedButtonConvert()
{
    workbench_.convert();
    afterCommand();
}

void CloomDlg::OnBnClickedButtonSubdivide()
{
    workbench_.subdivide();
    if (SurfaceEntryT* entry = quietSelection())
    {
        viewers_.meshChanged(entry->mesh.get());
    }
    afterCommand();
}

void CloomDlg::OnBnClickedButtonLoop()
{
    workbench_.loop();
    if (SurfaceEntryT* entry = quietSelection())
    {
        viewers_.meshChanged(entry->mesh.get());
    }
    afterCommand();
}

void CloomDlg::OnBnClickedButtonMakeManifold()
{
    workbench_.makeManifold();
    afterCommand();
}

void CloomDlg::OnBnClickedButtonSaveObj()
{
    if (auto path = askFile({true, "save obj...", kObjFilter}))
    {
        workbench_.saveObj(*path);
    }
    afterCommand();
}

void CloomDlg::OnBnClickedButtonSaveSequence()
{
    if (auto path = askFile({true, "save seq", kObjFilter}))
    {
        workbench_.saveSeq(*path);
    }
    afterCommand();
}

void CloomDlg::OnBnClickedButtonSaveMd3()
{
    if (auto path = askFile({true, "save md3...", kSaveMd3Filter}))
    {
        workbench_.saveMd3(*path);
    }
    afterCommand();
}

void CloomDlg::OnBnClickedButtonSaveLoop()
{
    if (auto path = askFile({true, "save loop...", kObjFilter}))
    {
        workbench_.saveLoop(*path);
    }
    afterCommand();
}

} // namespace loom
