// The runtime's helper for drawing a link's texts with the browser's own text stack (Canvas 2D).
'use strict';

window.WGText = window.WGText || {};
