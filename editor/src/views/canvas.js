// Sizing a view's canvas to its host: CSS pixels for layout, device pixels for sharp drawing.

// Gives `view.canvas` the size of `view.host` and records it on the view (width, height, dpr);
// marks the view for redrawing.
export function fitCanvas(view) {
    const dpr = window.devicePixelRatio || 1;
    view.width = Math.max(1, view.host.clientWidth);
    view.height = Math.max(1, view.host.clientHeight);
    view.canvas.width = Math.round(view.width * dpr);
    view.canvas.height = Math.round(view.height * dpr);
    view.canvas.style.width = `${view.width}px`;
    view.canvas.style.height = `${view.height}px`;
    view.dpr = dpr;
    view.dirty = true;
}
