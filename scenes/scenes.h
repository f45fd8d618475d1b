// The seven scenes: a set-up step run once at start-up and a render step run every
// frame while the scene is current.
#pragma once

void setupScene0();
void setupScene1();
void setupScene2();
void setupScene3();
void setupScene4();
void setupScene5();
void setupScene6();

void renderScene0();
void renderScene1();
void renderScene2();
void renderScene3();
void renderScene4();
void renderScene5();
void renderScene6();
