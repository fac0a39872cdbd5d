// The pictures the render tool draws.
//
// A scene makes one widget, laid out and filled as a person would see it; the tool renders
// each scene to "<name>.png". Every file of this folder may add scenes with
// KAIRELON_SCENE(name) { ... return widget; } — the windows add theirs beside the controls'.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kairelon::render {

struct Scene {
    std::string name;
    std::function<std::unique_ptr<QWidget>()> make;
};

std::vector<Scene>& Scenes();

struct SceneRegistration {
    SceneRegistration(std::string name, std::function<std::unique_ptr<QWidget>()> make) {
        Scenes().push_back(Scene{std::move(name), std::move(make)});
    }
};

// A white panel with a margin, the way the controls stand on a dialog page.
std::unique_ptr<QWidget> Panel(int width);

} // namespace kairelon::render

#define KAIRELON_SCENE_CAT2(a, b) a##b
#define KAIRELON_SCENE_CAT(a, b) KAIRELON_SCENE_CAT2(a, b)
#define KAIRELON_SCENE(name)                                                                       \
    static std::unique_ptr<QWidget> KAIRELON_SCENE_CAT(MakeScene_, __LINE__)();                    \
    static const ::kairelon::render::SceneRegistration KAIRELON_SCENE_CAT(scene_, __LINE__)(       \
        name, &KAIRELON_SCENE_CAT(MakeScene_, __LINE__));                                          \
    static std::unique_ptr<QWidget> KAIRELON_SCENE_CAT(MakeScene_, __LINE__)()
