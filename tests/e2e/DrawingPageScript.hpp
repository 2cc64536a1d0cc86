#pragma once
// The page-script pieces that the drawing-page window test and the renderer benchmark share: a full
// repaint of a 1280×760 canvas, and one round of the answers other threads hand to the main thread.
// `PROJECT` (the project's id) must be defined before them.

namespace pelko::test {

inline constexpr const char* drawingPageHelpers = R"JS(
  // One frame of a busy page: a moving gradient over the whole canvas, and a label.
  const paintFrame = (context, frame) => {
    const gradient = context.createLinearGradient(0, 0, 1280, 760);
    gradient.addColorStop(0, 'hsl(' + (frame * 7 % 360) + ', 80%, 50%)');
    gradient.addColorStop(1, 'hsl(' + (frame * 13 % 360) + ', 80%, 30%)');
    context.fillStyle = gradient;
    context.fillRect(0, 0, 1280, 760);
    context.fillStyle = '#fff';
    context.font = '48px sans-serif';
    context.fillText('frame ' + frame, 40 + frame % 600, 380);
  };
  // Asks at once for a file (notes.txt), a listing and a refresh barrier (both under `id`), and for
  // the echo session `sessionId` to answer "pong<round>".
  const askEveryKind = (id, sessionId, round) => {
    const post = (body) => window.webkit.messageHandlers.pelko.postMessage(body);
    post({ type: 'project/file/open', payload: { projectId: PROJECT, path: 'notes.txt' } });
    post({ type: 'project/explorer/directories/request', payload: { projectId: PROJECT, paths: [''], requestId: id } });
    post({ type: 'git/refresh/barrier', payload: { projectId: PROJECT, requestId: id } });
    post({ type: 'terminal/input', payload: { sessionId: sessionId, data: 'ping' + round + '\n' } });
  };
)JS";

}  // namespace pelko::test
