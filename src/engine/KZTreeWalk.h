#pragma once

#include <vector>

// Visits every node of a binary tree (any record with `left` and `right`
// links) children first, left before right, without recursion. The visitor
// may free the node it is given: the walk is done with its subtrees by then
// and never reads the node again.
template <typename Node, typename Visitor>
void forEachNodePostOrder(Node* root, Visitor&& visit)
{
    // An explicit stack: the trees are not balanced, and sorted input makes
    // a chain as long as the tree, which recursion would not survive.
    struct Frame {
        Node* node;
        bool childrenDone;
    };
    std::vector<Frame> stack;
    if (root)
        stack.push_back({root, false});
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.childrenDone) {
            Node* node = top.node;
            stack.pop_back();
            visit(node);
            continue;
        }
        top.childrenDone = true;
        Node* node = top.node;
        // Right is pushed first so that the left subtree is visited first.
        if (node->right)
            stack.push_back({node->right, false});
        if (node->left)
            stack.push_back({node->left, false});
    }
}
