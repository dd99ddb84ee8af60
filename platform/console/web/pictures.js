// The pictures: the load meter (tray, favicon, main window), list images, the product
// bitmap, message box icons and small glyphs.
import { num, svg } from './dom.js';

export function meterSvg(level, size) {
  level = Math.max(0, Math.min(5, num(level)));
  const colour = level >= 5 ? '#e02020' : level >= 4 ? '#e0c000' : '#20c020';
  let bars = '';
  for (let i = 0; i < 5; i++) {
    const h = 3 + i * 2, x = 2 + i * 2.6;
    bars += `<rect x="${x}" y="${14 - h}" width="2" height="${h}" fill="${i < level ? colour : '#3a4a3a'}"/>`;
  }
  const m = `<rect x="0.5" y="0.5" width="15" height="15" rx="2" fill="#102030" stroke="#000"/>${bars}`;
  return svg(m, 16, 16, size);
}
export function meterDataUri(level) {
  return 'data:image/svg+xml,' + encodeURIComponent(meterSvg(level).outerHTML);
}
const ICONS = {
  // modem line: a small box with lights and a handset
  112: '<rect x="1" y="6" width="14" height="7" rx="1" fill="#d8d8c8" stroke="#404040"/><rect x="3" y="10" width="2" height="1.5" fill="#0c0"/><rect x="6" y="10" width="2" height="1.5" fill="#0c0"/><rect x="9" y="10" width="2" height="1.5" fill="#c00"/><path d="M3 5 Q8 0 13 5" fill="none" stroke="#202020" stroke-width="2"/>',
  // network: two linked screens
  113: '<rect x="0.5" y="1.5" width="8" height="6" fill="#c0c0c0" stroke="#000"/><rect x="2" y="3" width="5" height="3" fill="#008080"/><rect x="7.5" y="8.5" width="8" height="6" fill="#c0c0c0" stroke="#000"/><rect x="9" y="10" width="5" height="3" fill="#008080"/><path d="M4.5 8 V12 H7.5" fill="none" stroke="#000080"/>',
};
export function imageSvg(resource) {
  const m = ICONS[resource] || '<rect x="2" y="2" width="12" height="12" fill="#ffffe0" stroke="#404040"/>';
  return svg(m, 16, 16);
}
export function bitmapSvg(resource) {
  // The product picture (also on the splash): a night sky over a calm sea.
  return svg(`<defs><linearGradient id="sky${resource}" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#000040"/><stop offset="0.7" stop-color="#1a3a8a"/><stop offset="1" stop-color="#0b1a3a"/></linearGradient></defs>
    <rect width="272" height="58" fill="url(#sky${resource})"/>
    <path d="M0 46 Q40 40 80 45 T160 43 T272 45 V58 H0Z" fill="#08204a"/>
    <circle cx="236" cy="16" r="8" fill="#f0f0c0"/>
    <circle cx="40" cy="10" r="0.8" fill="#fff"/><circle cx="150" cy="7" r="0.8" fill="#fff"/><circle cx="200" cy="22" r="0.7" fill="#fff"/>
    <text x="12" y="33" font-family="Georgia, 'Times New Roman', serif" font-size="26" font-style="italic" fill="#ffffff">Ossivane</text>
    <text x="126" y="33" font-family="Arial, sans-serif" font-size="22" font-weight="bold" fill="#ffd040">BBS</text>
    <rect y="58" width="272" height="19" fill="#ffffff"/><rect y="58" width="272" height="1" fill="#808080"/>`, 272, 77);
}
export function msgIconSvg(type) {
  const icon = type & 0xf0;
  if (icon === 0x10) return svg('<circle cx="16" cy="16" r="14" fill="#e02020" stroke="#800000"/><path d="M10 10 L22 22 M22 10 L10 22" stroke="#fff" stroke-width="3.5"/>', 32, 32);
  if (icon === 0x30) return svg('<path d="M16 2 L30 29 H2 Z" fill="#ffe000" stroke="#000"/><rect x="14.5" y="10" width="3" height="11" fill="#000"/><rect x="14.5" y="23" width="3" height="3" fill="#000"/>', 32, 32);
  if (icon === 0x20) return svg('<circle cx="16" cy="16" r="14" fill="#fff" stroke="#000080"/><text x="16" y="23" text-anchor="middle" font-family="Arial" font-weight="bold" font-size="20" fill="#000080">?</text>', 32, 32);
  if (icon === 0x40) return svg('<circle cx="16" cy="16" r="14" fill="#fff" stroke="#000080"/><text x="16" y="24" text-anchor="middle" font-family="Georgia, serif" font-weight="bold" font-size="21" fill="#000080">i</text>', 32, 32);
  return null;
}
export const checkMark = () => svg('<path d="M1 4 L3 6 L7 1 L7 3 L3 8 L1 6Z" fill="currentColor"/>', 8, 9);
export const folderSvg = () => svg('<path d="M1 4 H6 L7 5 H15 V14 H1Z" fill="#f0d060" stroke="#806000"/>', 16, 16);
export const fileSvg = () => svg('<path d="M3 1 H10 L13 4 V15 H3Z" fill="#fff" stroke="#404040"/><path d="M5 7 H11 M5 9 H11 M5 11 H11" stroke="#8080c0"/>', 16, 16);
